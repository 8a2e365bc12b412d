#include "AddressProblems.h"
#include "DeviceNetworkParams.h"
#include "Ipv4Networks.h"

#include <gtest/gtest.h>

namespace {

uint32_t Ip(const char* text)
{
    uint32_t ip = 0;
    EXPECT_TRUE(StringToIpType(text, ip)) << text;
    return ip;
}

std::string Check(const char* ip, const char* mask, const char* gateway)
{
    return CheckStaticAddressing(Ip(ip), Ip(mask), Ip(gateway)).toStdString();
}

} // namespace

TEST(Ipv4Networks, AddressingThatCutsADeviceOffIsRefused)
{
    EXPECT_EQ(Check("10.77.0.20", "255.255.255.0", "10.77.0.1"), "");
    EXPECT_EQ(Check("10.77.0.20", "255.255.255.0", "0.0.0.0"), "");
    EXPECT_EQ(Check("10.77.1.20", "255.255.254.0", "10.77.0.1"), "");
    EXPECT_EQ(Check("10.77.0.20", "255.0.255.0", "0.0.0.0"),
              "The network mask 255.0.255.0 is not valid: its ones must all come before its zeros");
    EXPECT_EQ(Check("10.77.0.0", "255.255.255.0", "0.0.0.0"),
              "The IP address 10.77.0.0 is the network address of 10.77.0.0/24; a device cannot use it");
    EXPECT_EQ(Check("10.77.1.255", "255.255.254.0", "0.0.0.0"),
              "The IP address 10.77.1.255 is the broadcast address of 10.77.0.0/23; a device cannot use it");
    EXPECT_EQ(Check("10.77.0.20", "255.255.255.0", "10.78.0.1"),
              "The gateway 10.78.0.1 is outside the device's network 10.77.0.0/24");
    EXPECT_NE(Check("10.77.0.20", "255.255.255.255", "0.0.0.0"), "");
    EXPECT_TRUE(IsContiguousMask(Ip("0.0.0.0")));
    EXPECT_FALSE(IsContiguousMask(Ip("0.255.255.255")));
}

TEST(Ipv4Networks, SharedAndOutsideAddressesAreNamedPerDevice)
{
    const std::vector<WorkstationInterface> interfaces{
        {3, QStringLiteral("eth0"), {{Ip("10.88.0.1"), Ip("255.255.255.0")}}},
        {4, QStringLiteral("eth1"), {{Ip("10.78.0.1"), Ip("255.255.255.0")}}}};
    const auto at = [](const char* ip, int netif, uint64_t mac = 0, const char* serial = "QS1") {
        return ListedAddress{Ip(ip), netif, mac, serial, std::string("Cam ") + serial};
    };
    const std::vector<ListedAddress> devices{
        at("192.168.1.100", 3), at("192.168.1.100", 3), at("10.88.0.5", 3),
        at("10.78.0.5", 3),                 // heard on eth0, in eth1's network
        at("10.78.0.6", 0),                 // interface unknown: any network
        at("10.78.0.7", 9),                 // interface gone: any network
        at("10.88.0.9", 3, 0x0251454C0001), // one device heard twice
        at("10.88.0.9", 4, 0x0251454C0001), // (on both ports)
        at("10.88.0.7", 3, 0x0251454C0002), // and two at one address
        at("10.88.0.7", 3, 0x0251454C0003), //
        at("10.88.0.7", 3, 0x0251454C0003),
        // one MAC, two devices: another serial number, or
        // another address
        at("10.88.0.20", 3, 0x0251454C0020, "QS20"), at("10.88.0.21", 3, 0x0251454C0020, "QS21"),
        at("10.88.0.22", 3, 0x0251454C0020, "QS20"),
        at("10.88.0.30", 3, 0x0251454C0030, "QS30"), // same serial
        at("10.88.0.30", 3, 0x0251454C0030, "QS31"), // same address
        // behind the other port: a request by MAC reaches one of them
        at("10.78.0.40", 4, 0x0251454C0040, "QS40"), at("10.88.0.40", 3, 0x0251454C0040, "QS41")};
    const std::vector<AddressProblem> problems = FindAddressProblems(devices, interfaces);
    ASSERT_EQ(problems.size(), devices.size());
    EXPECT_EQ(problems[0].Text(devices[0].ip).toStdString(),
              "Shares 192.168.1.100 with 1 other device; Not in this workstation's networks (10.88.0.0/24)");
    EXPECT_FALSE(problems[2].Any());
    EXPECT_EQ(problems[3].Text(devices[3].ip).toStdString(),
              "Not in this workstation's networks (10.88.0.0/24)");
    EXPECT_FALSE(problems[4].Any());
    EXPECT_FALSE(problems[5].Any());
    EXPECT_FALSE(problems[6].Any());
    EXPECT_EQ(problems[8].sharesWith, 1);
    EXPECT_EQ(problems[10].sharesWith, 1);
    EXPECT_FALSE(problems[7].SharesMac());
    EXPECT_EQ(problems[11].Text(devices[11].ip).toStdString(),
              "Shares its MAC address with Cam QS21 (QS21), Cam QS20 (QS20)");
    EXPECT_EQ(problems[13].macTwins.size(), 2);
    // Two devices with one MAC at one address share it as two devices.
    EXPECT_EQ(problems[14].Text(devices[14].ip).toStdString(),
              "Shares 10.88.0.30 with 1 other device; Shares its MAC address with Cam QS31 (QS31)");
    EXPECT_FALSE(problems[14].OfAddress() && problems[11].OfAddress());
    EXPECT_FALSE(problems[16].SharesMac() || problems[17].SharesMac());
    const char mac[6] = {0x02, 0x51, 0x45, 0x4C, 0x00, 0x20};
    EXPECT_EQ(SharedMacRefusal(mac).toStdString(),
              "Two devices answer with MAC 02-51-45-4C-00-20; a change would reach both");
}

TEST(Ipv4Networks, AnAddressThatMisleadsOrCannotBeReachedIsAskedAbout)
{
    const std::vector<Ipv4Network> networks{{Ip("10.88.0.1"), Ip("255.255.255.0")},
                                            {Ip("10.78.0.1"), Ip("255.255.0.0")}};
    const std::vector<uint32_t> others{Ip("10.88.0.12"), Ip("192.168.1.100")};
    const auto ask = [&](const char* from, const char* to, const std::vector<Ipv4Network>& in) {
        return AddressChangeQuestion(Ip(from), Ip(to), others, in).toStdString();
    };
    EXPECT_EQ(ask("10.88.0.11", "10.88.0.20", networks), "");
    // Held by another listed device: named before being outside.
    EXPECT_EQ(ask("10.88.0.11", "192.168.1.100", networks),
              "Another listed device already uses 192.168.1.100: after this change two devices answer at "
              "one address. Apply anyway?");
    EXPECT_EQ(ask("10.88.0.11", "10.99.0.20", networks),
              "After this change the tool cannot reach the device from this workstation (its networks: "
              "10.88.0.0/24, 10.78.0.0/16). Apply anyway?");
    EXPECT_EQ(ask("10.88.0.11", "10.99.0.20", {}),
              "After this change the tool cannot reach the device from this workstation (its networks: "
              "none). Apply anyway?");
    // An address that stays is no change to ask about.
    EXPECT_EQ(ask("192.168.1.100", "192.168.1.100", networks), "");
}
