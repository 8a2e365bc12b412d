#pragma once

#include <QString>
#include <cstdint>
#include <vector>

// IPv4 arithmetic for addressing devices, and the networks of this
// workstation. Addresses are in network byte order, as DeviceNetworkParams
// keeps them.

// One IPv4 network the workstation is in: its own address there and the mask.
struct Ipv4Network {
    uint32_t address = 0; // network byte order
    uint32_t mask = 0;    // network byte order

    uint32_t Base() const { return address & mask; }
    bool Contains(uint32_t ip) const { return (ip & mask) == Base(); }
    // "10.88.0.0/24"
    QString Text() const;
};

// A network interface of the workstation that has IPv4 networks.
struct WorkstationInterface {
    int index = 0; // the system's interface index, as search replies carry it
    QString name;  // "eth0"
    std::vector<Ipv4Network> networks;
};

// Interfaces that are up and not loopback, with their IPv4 networks.
std::vector<WorkstationInterface> WorkstationInterfaces();

// The networks of the interface `index`; of every interface when `index` is
// 0 or names none of them.
std::vector<Ipv4Network> NetworksOf(const std::vector<WorkstationInterface>& interfaces, int index);

bool InAnyNetwork(const std::vector<Ipv4Network>& networks, uint32_t ip);

// "10.88.0.0/24, 10.78.0.0/24"
QString NetworksText(const std::vector<Ipv4Network>& networks);

// Ones from the top, then only zeros (255.255.255.0 yes, 255.0.255.0 no).
bool IsContiguousMask(uint32_t mask);

// The refusal for a static addressing that would cut a device off (a mask
// that is not contiguous, the network's own or broadcast address, a gateway
// outside the new network); empty when it can be sent. A gateway of 0 means
// none.
QString CheckStaticAddressing(uint32_t ip, uint32_t mask, uint32_t gateway);
