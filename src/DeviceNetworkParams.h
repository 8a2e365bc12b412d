#pragma once

#include <cstdint>
#include <string>

enum ConnectionType : int {
    DHCP = 0,
    STATIC = 1,
};

// One device's identity and network settings. The four IPv4 fields hold the
// address in network byte order, exactly as the bytes travel on the wire.
struct DeviceNetworkParams {
    std::string productName;
    std::string deviceName;
    uint32_t ip = 0;
    uint32_t mask = 0;
    uint32_t gateway = 0;
    uint32_t dns = 0;
    char mac[6] = {};
    ConnectionType connectionType = DHCP;
    std::string firmWare;
    std::string serialNo;
};

// Dotted decimal text of an address in network byte order.
std::string IpTypeToString(uint32_t ip);

// Parses a dotted address into network byte order; stores 0 and returns false
// when the text is not an address.
bool StringToIpType(const std::string& text, uint32_t& ip);
