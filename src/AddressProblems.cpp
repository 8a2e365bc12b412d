#include "AddressProblems.h"

#include "DeviceNetworkParams.h"

#include <QCoreApplication>
#include <QStringList>
#include <unordered_map>

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

std::vector<AddressProblem> FindAddressProblems(const std::vector<ListedAddress>& devices,
                                                const std::vector<WorkstationInterface>& interfaces)
{
    std::unordered_map<uint32_t, int> holders;
    for (const ListedAddress& device : devices) {
        ++holders[device.ip];
    }
    std::vector<AddressProblem> problems(devices.size());
    for (size_t i = 0; i < devices.size(); ++i) {
        AddressProblem& problem = problems[i];
        problem.sharesWith = holders[devices[i].ip] - 1;
        const std::vector<Ipv4Network> networks = NetworksOf(interfaces, devices[i].interfaceIndex);
        problem.outside = !InAnyNetwork(networks, devices[i].ip);
        if (problem.outside) {
            problem.networks = NetworksText(networks);
        }
    }
    return problems;
}
