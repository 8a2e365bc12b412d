// Planning a readdress without a network: groups per interface, free
// addresses that keep the plan's gateway and DNS free, the servers proposed
// and the plan's words.
#include "ReaddressBatch.h"
#include "ReaddressPlan.h"

#include <gtest/gtest.h>

namespace {

uint32_t Ip(const char* text)
{
    uint32_t ip = 0;
    EXPECT_TRUE(StringToIpType(text, ip)) << text;
    return ip;
}

ListedDevice Device(const char* ip, int netif, const char* gateway = "0.0.0.0")
{
    ListedDevice device;
    device.params.ip = Ip(ip);
    device.params.gateway = Ip(gateway);
    device.interfaceIndex = netif;
    return device;
}

std::vector<std::string> Texts(const std::vector<uint32_t>& addresses)
{
    std::vector<std::string> texts;
    for (const uint32_t ip : addresses) {
        texts.push_back(IpTypeToString(ip));
    }
    return texts;
}

std::vector<WorkstationInterface> Interfaces()
{
    return {{3, QStringLiteral("eth0"), {{Ip("10.77.0.1"), Ip("255.255.255.0")}}},
            {4, QStringLiteral("eth1"), {{Ip("10.78.0.1"), Ip("255.255.255.0")}}}};
}

} // namespace

TEST(ReaddressPlan, EachInterfaceIsPlannedInItsOwnNetworkAndKeepsItsServersFree)
{
    const std::vector<ListedDevice> devices{Device("192.168.1.100", 4), Device("10.77.0.50", 3),
                                            Device("10.77.0.51", 9), Device("10.78.0.9", 4, "10.78.0.254")};
    const std::vector<WorkstationInterface> interfaces = Interfaces();
    std::vector<ReaddressGroup> groups = GroupByInterface(interfaces, devices);
    ASSERT_EQ(groups.size(), 3u);
    EXPECT_EQ(groups[0].interfaceName.toStdString(), "eth0");
    EXPECT_EQ(groups[1].interfaceName.toStdString(), "eth1");
    EXPECT_EQ(groups[1].devices.size(), 2u);
    // Heard on an interface the workstation no longer has.
    EXPECT_EQ(groups[2].interfaceIndex, 0);
    EXPECT_TRUE(groups[2].networks.empty());

    std::unordered_set<uint32_t> taken = TakenAddresses(interfaces, devices);
    const AddressProbe none;
    // eth1: the devices' own gateway there, else the workstation's route.
    const ReaddressDefaults eth1 = DefaultReaddress(interfaces[1], groups[1].devices, taken, none, {});
    EXPECT_EQ(IpTypeToString(eth1.gateway), "10.78.0.254");
    EXPECT_EQ(IpTypeToString(eth1.first), "10.78.0.2");
    const ReaddressDefaults eth0 =
        DefaultReaddress(interfaces[0], groups[0].devices, taken, none, {Ip("10.77.0.2"), Ip("192.168.9.1")});
    EXPECT_EQ(IpTypeToString(eth0.gateway), "10.77.0.2");
    EXPECT_EQ(IpTypeToString(eth0.first), "10.77.0.3");

    ReaddressGroup& group = groups[1];
    group.first = Ip("10.78.0.8");
    group.mask = Ip("255.255.255.0");
    group.gateway = Ip("10.78.0.10");
    group.dns = Ip("10.78.0.11");
    QString error;
    ASSERT_TRUE(PlanGroup(group, taken, none, error)) << error.toStdString();
    // 10.78.0.9 is a listed device's, .10 and .11 the plan's servers.
    EXPECT_EQ(Texts(group.addresses), (std::vector<std::string>{"10.78.0.8", "10.78.0.12"}));
    EXPECT_EQ(taken.count(Ip("10.78.0.12")), 1u);
    EXPECT_FALSE(group.LeavesInterface());
    group.first = Ip("10.99.0.8");
    EXPECT_TRUE(group.LeavesInterface());

    // A later group cannot plan what an earlier one took; a network that
    // runs out says so and plans nothing.
    ReaddressGroup again = groups[1];
    again.first = Ip("10.78.0.8");
    again.mask = Ip("255.255.255.252");
    EXPECT_FALSE(PlanGroup(again, taken, none, error));
    EXPECT_TRUE(again.addresses.empty());
    EXPECT_EQ(error.toStdString(), "Only 0 free addresses in 10.78.0.8/30 from 10.78.0.8 on; 2 are needed");

    // Each entry carries its own group's network.
    groups[0].first = Ip("10.77.0.100");
    groups[0].mask = Ip("255.255.255.0");
    groups[0].gateway = Ip("10.77.0.1");
    ASSERT_TRUE(PlanGroup(groups[0], taken, none, error));
    groups[2].devices.clear();
    const std::vector<ReaddressEntry> entries = PlannedEntries(groups);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(IpTypeToString(entries[0].newGateway), "10.77.0.1");
    EXPECT_EQ(IpTypeToString(entries[1].newGateway), "10.78.0.10");
    EXPECT_EQ(IpTypeToString(entries[2].newDns), "10.78.0.11");
}

TEST(ReaddressPlan, TheDnsLineSaysWhatHappensToTheDevicesDns)
{
    EXPECT_EQ(DnsPlanText(Ip("10.77.0.53")).toStdString(), "DNS: 10.77.0.53 (given)");
    EXPECT_EQ(DnsPlanText(0).toStdString(),
              "DNS: none \u2014 the devices' current DNS cannot be read, and will be cleared");
    ReaddressGroup group;
    group.interfaceIndex = 4;
    group.interfaceName = QStringLiteral("eth1");
    group.mask = Ip("255.255.0.0");
    EXPECT_EQ(GroupPlanText(group).toStdString(), "eth1: mask 255.255.0.0, gateway none");
}
