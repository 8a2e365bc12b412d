#pragma once

#include <QByteArray>

#include <string>

// Builds discovery replies the way a device lays them out, independently of
// the tool's parser, for tests that feed the search window directly.
struct DiscoveryReply {
    std::string productName = "VCA-100";
    std::string deviceName = "camera";
    unsigned char ip[4] = {192, 168, 1, 10};
    unsigned char mac[6] = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
    unsigned char mask[4] = {255, 255, 255, 0};
    unsigned char gateway[4] = {192, 168, 1, 1};
    unsigned char connectionType = 1;
    std::string firmware = "2.4.1";
    std::string serialNo = "SN0001";

    QByteArray Bytes() const;
};
