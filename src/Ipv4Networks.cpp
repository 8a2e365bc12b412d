#include "Ipv4Networks.h"

#include "DeviceNetworkParams.h"

#include <QCoreApplication>
#include <QNetworkInterface>
#include <QStringList>
#include <QtEndian>

namespace {

uint32_t HostOrder(uint32_t ip)
{
    return qFromBigEndian(ip);
}

QString AddressText(uint32_t ip)
{
    return QString::fromStdString(IpTypeToString(ip));
}

int PrefixLength(uint32_t mask)
{
    int length = 0;
    for (uint32_t bits = HostOrder(mask); (bits & 0x80000000u) != 0; bits <<= 1) {
        ++length;
    }
    return length;
}

QString Tr(const char* text)
{
    return QCoreApplication::translate("Ipv4Networks", text);
}

} // namespace

QString Ipv4Network::Text() const
{
    return QStringLiteral("%1/%2").arg(AddressText(Base())).arg(PrefixLength(mask));
}

std::vector<WorkstationInterface> WorkstationInterfaces()
{
    std::vector<WorkstationInterface> result;
    for (const QNetworkInterface& netif : QNetworkInterface::allInterfaces()) {
        const auto flags = netif.flags();
        if (!flags.testFlag(QNetworkInterface::IsUp) || flags.testFlag(QNetworkInterface::IsLoopBack)) {
            continue;
        }
        WorkstationInterface entry;
        entry.index = netif.index();
        entry.name = netif.name();
        for (const QNetworkAddressEntry& address : netif.addressEntries()) {
            if (address.ip().protocol() != QAbstractSocket::IPv4Protocol) {
                continue;
            }
            entry.networks.push_back({qToBigEndian(address.ip().toIPv4Address()),
                                      qToBigEndian(address.netmask().toIPv4Address())});
        }
        if (!entry.networks.empty()) {
            result.push_back(std::move(entry));
        }
    }
    return result;
}

std::vector<Ipv4Network> NetworksOf(const std::vector<WorkstationInterface>& interfaces, int index)
{
    std::vector<Ipv4Network> all;
    for (const WorkstationInterface& netif : interfaces) {
        if (index != 0 && netif.index == index) {
            return netif.networks;
        }
        all.insert(all.end(), netif.networks.begin(), netif.networks.end());
    }
    return all;
}

bool InAnyNetwork(const std::vector<Ipv4Network>& networks, uint32_t ip)
{
    for (const Ipv4Network& network : networks) {
        if (network.Contains(ip)) {
            return true;
        }
    }
    return false;
}

QString NetworksText(const std::vector<Ipv4Network>& networks)
{
    QStringList texts;
    for (const Ipv4Network& network : networks) {
        if (!texts.contains(network.Text())) {
            texts << network.Text();
        }
    }
    return texts.join(QStringLiteral(", "));
}

bool IsContiguousMask(uint32_t mask)
{
    const uint32_t inverted = ~HostOrder(mask);
    // The zeros of a contiguous mask, inverted, are a run of ones from the
    // bottom: adding one carries through all of them.
    return (inverted & (inverted + 1)) == 0;
}

QString CheckStaticAddressing(uint32_t ip, uint32_t mask, uint32_t gateway)
{
    if (!IsContiguousMask(mask)) {
        return Tr("The network mask %1 is not valid: its ones must all come before its zeros")
            .arg(AddressText(mask));
    }
    const Ipv4Network network{ip, mask};
    const uint32_t broadcast = network.Base() | ~mask;
    if (ip == network.Base()) {
        return Tr("The IP address %1 is the network address of %2; a device cannot use it")
            .arg(AddressText(ip), network.Text());
    }
    if (ip == broadcast) {
        return Tr("The IP address %1 is the broadcast address of %2; a device cannot use it")
            .arg(AddressText(ip), network.Text());
    }
    if (gateway != 0 && !network.Contains(gateway)) {
        return Tr("The gateway %1 is outside the device's network %2")
            .arg(AddressText(gateway), network.Text());
    }
    return {};
}
