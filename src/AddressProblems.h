#pragma once

#include "Ipv4Networks.h"

#include <QString>
#include <QStringList>
#include <cstdint>
#include <string>
#include <vector>

// Where a listed device sits, as the search heard it.
struct ListedAddress {
    uint32_t ip = 0;        // network byte order
    int interfaceIndex = 0; // the interface its reply came in on; 0 unknown
    // The device's MAC address, 48 bits; 0 unknown, and then the entry counts
    // as a device of its own. One device heard twice (through two
    // interfaces, or a reply sent twice) shares its address with no one.
    uint64_t mac = 0;
    // What the device says of itself: a second device with the same MAC
    // (cloned firmware, a mistake in the lab) tells another serial number,
    // or answers from another address.
    std::string serial;
    std::string name;
};

struct DeviceNetworkParams;

// A device of the search as FindAddressProblems takes it: its address, the
// interface it answered on and its MAC.
ListedAddress ListedAddressOf(const DeviceNetworkParams& params, int interfaceIndex);

// What is wrong with one listed device's address.
struct AddressProblem {
    int sharesWith = 0;   // other listed devices at the same address
    bool outside = false; // in none of the networks of its interface
    QString networks;     // those networks, "10.77.0.0/24"
    // The other devices that answer with this one's MAC on the same port
    // (or an unknown one), "<name> (<serial>)": a request by MAC would reach
    // them too.
    QStringList macTwins;

    bool SharesMac() const { return !macTwins.isEmpty(); }
    // A problem a new address can solve.
    bool OfAddress() const { return sharesWith > 0 || outside; }
    bool Any() const { return OfAddress() || SharesMac(); }
    // "Shares 192.168.1.100 with 4 other devices"; "Not in this workstation's
    // networks (10.88.0.0/24)"; "Shares its MAC address with Gate (QS01)";
    // joined by "; ". Empty without a problem.
    QString Text(uint32_t ip) const;
    bool operator==(const AddressProblem& other) const
    {
        return sharesWith == other.sharesWith && outside == other.outside && networks == other.networks &&
               macTwins == other.macTwins;
    }
};

// Why nothing is sent to a device whose MAC another device answers with too:
// "Two devices answer with MAC 02-51-45-4C-00-01; a change would reach both".
QString SharedMacRefusal(const char (&mac)[6]);

// One entry per device of `devices`, in the same order. A device is outside
// when its address is in none of the networks of the interface it answered
// on (of any interface when that is unknown or gone).
std::vector<AddressProblem> FindAddressProblems(const std::vector<ListedAddress>& devices,
                                                const std::vector<WorkstationInterface>& interfaces);

// The question to ask before a device at `currentIp` is given `newIp`: when
// another listed device (`otherListed`, the others' addresses) already holds
// it, or when it is in none of `networks` (the workstation's). Empty when
// there is nothing to ask, also when the address stays the same.
QString AddressChangeQuestion(uint32_t currentIp, uint32_t newIp, const std::vector<uint32_t>& otherListed,
                              const std::vector<Ipv4Network>& networks);
