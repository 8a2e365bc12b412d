#include "AddressProblems.h"

#include "DeviceNetworkParams.h"

#include <QCoreApplication>
#include <QStringList>
#include <algorithm>
#include <unordered_map>
#include <unordered_set>

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
    return parts.join(QStringLiteral("; "));
}

ListedAddress ListedAddressOf(const DeviceNetworkParams& params, int interfaceIndex)
{
    uint64_t mac = 0;
    for (const char byte : params.mac) {
        mac = (mac << 8) | static_cast<uint8_t>(byte);
    }
    return {params.ip, interfaceIndex, mac};
}

std::vector<AddressProblem> FindAddressProblems(const std::vector<ListedAddress>& devices,
                                                const std::vector<WorkstationInterface>& interfaces)
{
    // The distinct devices at each address; an unknown MAC is a device of
    // its own, keyed above the 48 bits a MAC address takes.
    std::unordered_map<uint32_t, std::unordered_set<uint64_t>> holders;
    for (size_t i = 0; i < devices.size(); ++i) {
        holders[devices[i].ip].insert(devices[i].mac != 0 ? devices[i].mac : (uint64_t{1} << 48) + i);
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
