#pragma once

#include "DeviceNetworkParams.h"
#include "Ipv4Networks.h"

#include <QString>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <unordered_set>
#include <vector>

// Planning a readdress of several devices: which addresses are free, and the
// values a readdress starts from. No widgets, no event loop; addresses in
// network byte order.

// Tells for each candidate address whether something answers at it.
using AddressProbe = std::function<std::vector<bool>(const std::vector<uint32_t>& candidates)>;

// The probe a workstation without root can make: one UDP datagram to the
// discard port of each candidate, so that the kernel resolves its hardware
// address, then, after `waitMs`, the complete entries of the ARP table
// (/proc/net/arp). A candidate counts as answering when it has one, also one
// from earlier traffic. At most kMaxProbesPerCall candidates are sent to;
// the rest count as answering.
std::vector<bool> ProbeByArpTable(const std::vector<uint32_t>& candidates, int waitMs);
constexpr size_t kMaxProbesPerCall = 1024;
// Long enough for a device on the same segment to answer the kernel's first
// ARP request, short enough to plan without a noticeable wait.
constexpr int kArpProbeWaitMs = 400;

// `count` addresses from `first` upward inside the network of `first` and
// `mask`, none of them the network's own or broadcast address, none in
// `taken`, none answering `probe` (which may be empty: no probing). The
// probe sees each candidate once and at most a bounded number in all. Fewer
// than `count` when the network runs out; `error` then says so.
std::vector<uint32_t> FreeAddresses(uint32_t first, uint32_t mask, size_t count,
                                    const std::unordered_set<uint32_t>& taken, const AddressProbe& probe,
                                    QString& error);

// A device as the search listed it.
struct ListedDevice {
    DeviceNetworkParams params;
    int interfaceIndex = 0; // the interface its reply came in on; 0 unknown
};

// What a readdress starts from before the user changes anything.
struct ReaddressDefaults {
    int interfaceIndex = 0; // 0: none of the workstation's interfaces has IPv4
    uint32_t first = 0;
    uint32_t mask = 0;
    uint32_t gateway = 0; // 0: none
    uint32_t dns = 0;     // 0: none
};

// The gateway and DNS to propose for devices moved into `network`: those the
// devices hold most often inside it; failing that for the gateway, the
// workstation's own gateway there (`workstationGateways`, as
// WorkstationGateways() reads them). 0 where there is none to propose.
struct ProposedServers {
    uint32_t gateway = 0;
    uint32_t dns = 0;
};
ProposedServers ProposeServers(const std::vector<ListedDevice>& devices, const Ipv4Network& network,
                               const std::vector<uint32_t>& workstationGateways);

// The gateways of this network namespace's routing table (/proc/net/route),
// network byte order; empty when it cannot be read.
std::vector<uint32_t> WorkstationGateways();

// For the devices heard on `netif`: in its first network, the first free
// address above the workstation's own and that network's mask, and the
// servers ProposeServers gives there.
ReaddressDefaults DefaultReaddress(const WorkstationInterface& netif,
                                   const std::vector<ListedDevice>& devices,
                                   const std::unordered_set<uint32_t>& taken, const AddressProbe& probe,
                                   const std::vector<uint32_t>& workstationGateways);

// The gateway or DNS the devices hold most often among those inside
// `network`; 0 when none is.
uint32_t CommonAddressIn(const std::vector<uint32_t>& addresses, const Ipv4Network& network);

// The devices of one interface and the network they are given there. A
// device is planned in a network of the interface it was heard on, so that
// the workstation still reaches it after the change.
struct ReaddressGroup {
    int interfaceIndex = 0;            // 0: heard on no interface the workstation has now
    QString interfaceName;             // "eth1"; empty with index 0
    std::vector<Ipv4Network> networks; // the interface's
    std::vector<ListedDevice> devices;
    uint32_t first = 0;
    uint32_t mask = 0;
    uint32_t gateway = 0;            // 0: none
    uint32_t dns = 0;                // 0: none; discovery replies do not carry it
    std::vector<uint32_t> addresses; // one per device once planned

    // The first address lies in none of the interface's networks: the
    // workstation cannot reach the devices there afterwards.
    bool LeavesInterface() const { return !InAnyNetwork(networks, first); }
};

// The devices by the interface they were heard on, groups in the order of
// `interfaces`, each group's devices in their order in `devices`; those heard
// on no listed interface last, in one group of index 0.
std::vector<ReaddressGroup> GroupByInterface(const std::vector<WorkstationInterface>& interfaces,
                                             const std::vector<ListedDevice>& devices);

// Fills `group.addresses` from its first address on: none in `taken`, none
// the group's gateway or DNS, none answering `probe`; adds them to `taken`,
// so that a later group cannot plan them again. False with `error` when the
// network runs out.
bool PlanGroup(ReaddressGroup& group, std::unordered_set<uint32_t>& taken, const AddressProbe& probe,
               QString& error);

// The plan's line on the DNS: "DNS: 10.77.0.53 (given)", or, without one,
// that the devices' current DNS cannot be read and is cleared.
QString DnsPlanText(uint32_t dns);

// The group's network line: "eth1: mask 255.255.255.0, gateway 10.78.0.1"
// ("gateway none" without one).
QString GroupPlanText(const ReaddressGroup& group);

// The workstation's own addresses on every interface and every listed
// device's: none is free. A plan adds its gateway and DNS (PlanGroup).
std::unordered_set<uint32_t> TakenAddresses(const std::vector<WorkstationInterface>& interfaces,
                                            const std::vector<ListedDevice>& listed);

// The record a readdress sends: the device's name and identity kept, static
// addressing with the new values.
DeviceNetworkParams ReaddressedRecord(const DeviceNetworkParams& current, uint32_t ip, uint32_t mask,
                                      uint32_t gateway, uint32_t dns);
