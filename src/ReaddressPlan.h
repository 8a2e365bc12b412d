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

// The interface the devices answered on (the most common one, else the first
// interface); in its first network the first free address above the
// workstation's own and that network's mask; the gateway and DNS the devices
// hold most often among those inside that network.
ReaddressDefaults DefaultReaddress(const std::vector<WorkstationInterface>& interfaces,
                                   const std::vector<ListedDevice>& devices,
                                   const std::unordered_set<uint32_t>& taken, const AddressProbe& probe);

// The gateway or DNS the devices hold most often among those inside
// `network`; 0 when none is.
uint32_t CommonAddressIn(const std::vector<uint32_t>& addresses, const Ipv4Network& network);

// The workstation's own addresses and every listed device's: none is free.
std::unordered_set<uint32_t> TakenAddresses(const std::vector<WorkstationInterface>& interfaces,
                                            const std::vector<ListedDevice>& listed);

// The record a readdress sends: the device's name and identity kept, static
// addressing with the new values.
DeviceNetworkParams ReaddressedRecord(const DeviceNetworkParams& current, uint32_t ip, uint32_t mask,
                                      uint32_t gateway, uint32_t dns);
