#include "DeviceNetworkParams.h"

#include "ChangeRecord.h"
#include "LogCapture.h"
#include "StringUtils.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(IpTextTest, WireBytesGiveDottedText)
{
    const unsigned char wire[4] = {192, 168, 1, 10};
    uint32_t ip = 0;
    std::memcpy(&ip, wire, 4);
    EXPECT_EQ(IpTypeToString(ip), "192.168.1.10");
    EXPECT_EQ(IpTypeToString(0), "0.0.0.0");
}

TEST(IpTextTest, ParsingStoresNetworkOrderOrZero)
{
    LogCapture log;
    uint32_t ip = 1;
    ASSERT_TRUE(StringToIpType("192.168.1.10", ip));
    EXPECT_EQ(utils::GetPrintedBufferInHex(&ip, 4, 4, " "), "C0 A8 01 0A");
    EXPECT_TRUE(log.Contains("address 192.168.1.10 is converted to " + std::to_string(ip) +
                             "; is QHostAddress::Null: 0"));

    for (const char* bad : {"", "192.168.1.300", "device.local"}) {
        ip = 1;
        EXPECT_FALSE(StringToIpType(bad, ip)) << bad;
        EXPECT_EQ(ip, 0u) << bad;
    }

    ip = 1;
    EXPECT_TRUE(StringToIpType("::1", ip)); // an IPv6 address has no IPv4 form
    EXPECT_EQ(ip, 0u);
}

TEST(DeviceNetworkParamsTest, ValueInitialisedAndIndependentCopies)
{
    DeviceNetworkParams params{};
    EXPECT_TRUE(params.deviceName.empty());
    EXPECT_EQ(params.ip, 0u);
    EXPECT_EQ(params.connectionType, DHCP);
    EXPECT_EQ(utils::GetPrintedBufferInHex(params.mac, 6, 6, "-"), "00-00-00-00-00-00");

    params.deviceName = "source";
    DeviceNetworkParams copy = params;
    copy.deviceName = "copy";
    EXPECT_EQ(params.deviceName, "source");
}

TEST(HexTextTest, SeparatorsAndLimits)
{
    const unsigned char bytes[] = {0x00, 0xAB, 0x10};
    EXPECT_EQ(utils::GetPrintedBufferInHex(bytes, 3, 100, " "), "00 AB 10");
    EXPECT_EQ(utils::GetPrintedBufferInHex(bytes, 3, 2, " "), "00 AB");
    EXPECT_EQ(utils::GetPrintedBufferInHex(bytes, 0, 2, " "), "");
    EXPECT_EQ(utils::GetPrintedBufferInHex(bytes, 3, 0, " "), "");
    const unsigned char mac[] = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
    EXPECT_EQ(utils::GetPrintedBufferInHex(mac, 6, 6, "-"), "00-1A-2B-3C-4D-5E");
}

// The record names the device as it was and only the fields that change;
// the device's own text cannot break the record.
TEST(ChangeRecordTest, NamesTheDeviceAndWhatChanged)
{
    DeviceNetworkParams before{};
    before.deviceName = "Gate \"A\"\n";
    const char mac[6] = {0x02, 0x51, 0x45, 0x4C, 0x66, 0x01};
    std::memcpy(before.mac, mac, sizeof mac);
    ASSERT_TRUE(StringToIpType("10.77.0.11", before.ip));
    ASSERT_TRUE(StringToIpType("255.255.255.0", before.mask));
    before.connectionType = STATIC;
    DeviceNetworkParams after = before;
    EXPECT_EQ(NetworkChangeText(before, after).toStdString(), "network settings (unchanged)");
    after.deviceName = "B";
    after.connectionType = DHCP;
    ASSERT_TRUE(StringToIpType("10.77.0.20", after.ip));
    ASSERT_TRUE(StringToIpType("10.77.0.2", after.dns));
    EXPECT_EQ(
        ChangeRecordText(before, NetworkChangeText(before, after), QStringLiteral("changed")).toStdString(),
        "Change: device 02-51-45-4C-66-01 10.77.0.11 \"Gate \\\"A\\\"\\x0a\": network settings (name "
        "\"Gate \\\"A\\\"\\x0a\" -> \"B\", addressing static -> DHCP, IP 10.77.0.11 -> 10.77.0.20, DNS "
        "0.0.0.0 -> 10.77.0.2): changed");
}

} // namespace
