#include "AddressProblems.h"

#include "DeviceNetworkParams.h"
#include "StringUtils.h"

#include <QCoreApplication>
#include <QStringList>
#include <algorithm>
#include <string>
#include <unordered_map>
#include <unordered_set>

namespace {

// Devices sharing a MAC that a problem names; a hostile network could
// answer with thousands.
constexpr int kNamedTwins = 4;

} // namespace

QString AddressProblem::Text(uint32_t ip) const
{
    QStringList parts;
    if (sharesWith > 0) {
        const QString address = QString::fromStdString(IpTypeToString(ip));
        parts << (sharesWith == 1
                      ? QCoreApplication::translate("AddressProblems", "Shares %1 with 1 other device")
                            .arg(address)
                      : QCoreApplication::translate("AddressProblems", "Shares %1 with %2 other devices")
                            .arg(address)
                            .arg(sharesWith));
    }
    if (outside) {
        parts << QCoreApplication::translate("AddressProblems", "Not in this workstation's networks (%1)")
                     .arg(networks);
    }
    if (SharesMac()) {
        parts << QCoreApplication::translate("AddressProblems", "Shares its MAC address with %1")
                     .arg(macTwins.join(QStringLiteral(", ")));
    }
    return parts.join(QStringLiteral("; "));
}

QString SharedMacRefusal(const char (&mac)[6])
{
    return QCoreApplication::translate("AddressProblems",
                                       "Two devices answer with MAC %1; a change would reach both")
        .arg(QString::fromStdString(utils::GetPrintedBufferInHex(mac, sizeof mac, sizeof mac, "-")));
}

ListedAddress ListedAddressOf(const DeviceNetworkParams& params, int interfaceIndex)
{
    uint64_t mac = 0;
    for (const char byte : params.mac) {
        mac = (mac << 8) | static_cast<uint8_t>(byte);
    }
    return {params.ip, interfaceIndex, mac, params.serialNo, params.deviceName};
}

std::vector<AddressProblem> FindAddressProblems(const std::vector<ListedAddress>& devices,
                                                const std::vector<WorkstationInterface>& interfaces)
{
    // A device is its MAC and what it says of itself: one heard twice (a
    // reply sent twice, or heard through two interfaces) is one device, two
    // with one MAC but another serial number or address are two.
    const auto identity = [&devices](size_t i) {
        const ListedAddress& d = devices[i];
        std::string key(reinterpret_cast<const char*>(&d.mac), sizeof d.mac);
        // An unknown MAC is a device of its own.
        return d.mac != 0 ? key + d.serial : key + std::to_string(i);
    };
    std::unordered_map<uint32_t, std::unordered_set<std::string>> holders;
    // Per MAC, one entry per device that answers with it (and its address).
    struct MacDevice {
        std::string key;
        size_t index;
    };
    std::unordered_map<uint64_t, std::vector<MacDevice>> byMac;
    std::unordered_set<std::string> seen;
    for (size_t i = 0; i < devices.size(); ++i) {
        holders[devices[i].ip].insert(identity(i));
        std::string key = identity(i) + '@' + std::to_string(devices[i].ip);
        if (devices[i].mac != 0 && seen.insert(key).second) {
            byMac[devices[i].mac].push_back({std::move(key), i});
        }
    }
    // The window judges every row again as replies arrive: each interface's
    // networks and their text are made once, not once per device.
    struct InterfaceNetworks {
        std::vector<Ipv4Network> networks;
        QString text;
    };
    std::unordered_map<int, InterfaceNetworks> byInterface;
    std::vector<AddressProblem> problems(devices.size());
    for (size_t i = 0; i < devices.size(); ++i) {
        AddressProblem& problem = problems[i];
        problem.sharesWith = static_cast<int>(holders[devices[i].ip].size()) - 1;
        auto known = byInterface.find(devices[i].interfaceIndex);
        if (known == byInterface.end()) {
            std::vector<Ipv4Network> networks = NetworksOf(interfaces, devices[i].interfaceIndex);
            QString text = NetworksText(networks);
            known =
                byInterface.emplace(devices[i].interfaceIndex, InterfaceNetworks{std::move(networks), text})
                    .first;
        }
        problem.outside = !InAnyNetwork(known->second.networks, devices[i].ip);
        if (problem.outside) {
            problem.networks = known->second.text;
        }
        if (devices[i].mac == 0) {
            continue;
        }
        // Each other device of the same MAC once, however often it was heard;
        // a few are named, the count tells the rest.
        const std::string own = identity(i) + '@' + std::to_string(devices[i].ip);
        const std::vector<MacDevice>& sameMac = byMac[devices[i].mac];
        for (const MacDevice& other : sameMac) {
            // A request by MAC goes out on the port the device was heard on:
            // a device behind another port does not take it.
            const int otherInterface = devices[other.index].interfaceIndex;
            if (other.key == own || (otherInterface != 0 && devices[i].interfaceIndex != 0 &&
                                     otherInterface != devices[i].interfaceIndex)) {
                continue;
            }
            if (problem.macTwins.size() == kNamedTwins) {
                problem.macTwins << QCoreApplication::translate("AddressProblems", "%1 more")
                                        .arg(sameMac.size() - 1 - kNamedTwins);
                break;
            }
            problem.macTwins << QStringLiteral("%1 (%2)").arg(
                QString::fromStdString(devices[other.index].name),
                QString::fromStdString(devices[other.index].serial));
        }
    }
    return problems;
}

QString AddressChangeQuestion(uint32_t currentIp, uint32_t newIp, const std::vector<uint32_t>& otherListed,
                              const std::vector<Ipv4Network>& networks)
{
    if (newIp == currentIp) {
        return {};
    }
    const QString address = QString::fromStdString(IpTypeToString(newIp));
    if (std::find(otherListed.begin(), otherListed.end(), newIp) != otherListed.end()) {
        return QCoreApplication::translate("AddressProblems",
                                           "Another listed device already uses %1: after this change two "
                                           "devices answer at one address. Apply anyway?")
            .arg(address);
    }
    if (!InAnyNetwork(networks, newIp)) {
        const QString text = networks.empty() ? QCoreApplication::translate("AddressProblems", "none")
                                              : NetworksText(networks);
        return QCoreApplication::translate("AddressProblems",
                                           "After this change the tool cannot reach the device from this "
                                           "workstation (its networks: %1). Apply anyway?")
            .arg(text);
    }
    return {};
}
