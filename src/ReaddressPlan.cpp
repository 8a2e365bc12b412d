#include "ReaddressPlan.h"

#include <QCoreApplication>
#include <QFile>
#include <QThread>
#include <QtEndian>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <easylogging++.h>

#include <algorithm>
#include <map>

namespace {

// The discard service: a datagram to it asks nothing of any device.
constexpr uint16_t kDiscardPort = 9;
// Rounds of probing for the addresses the first round found taken, and the
// candidates probed in all beyond those asked for: a busy network cannot
// make planning send without end.
constexpr int kMaxProbeRounds = 4;
constexpr size_t kExtraProbes = 64;
// The kernel marks an ARP entry whose hardware address is known with this flag.
constexpr unsigned kArpComplete = 0x2;

uint32_t HostOrder(uint32_t ip)
{
    return qFromBigEndian(ip);
}

uint32_t NetOrder(uint32_t ip)
{
    return qToBigEndian(ip);
}

QString AddressText(uint32_t ip)
{
    return QString::fromStdString(IpTypeToString(ip));
}

// Addresses with a complete entry in this network namespace's ARP table.
std::unordered_set<uint32_t> ResolvedAddresses()
{
    std::unordered_set<uint32_t> resolved;
    QFile table(QStringLiteral("/proc/net/arp"));
    if (!table.open(QIODevice::ReadOnly | QIODevice::Text)) {
        LOG(WARNING) << "Cannot read the ARP table: " << table.errorString().toStdString();
        return resolved;
    }
    table.readLine(); // header
    // One line per entry; the table of a namespace is bounded by the kernel.
    while (!table.atEnd()) {
        const QList<QByteArray> fields = table.readLine().simplified().split(' ');
        if (fields.size() < 4) {
            continue;
        }
        uint32_t ip = 0;
        bool flagsOk = false;
        const unsigned flags = fields.at(2).toUInt(&flagsOk, 16);
        if (flagsOk && (flags & kArpComplete) != 0 && fields.at(3) != "00:00:00:00:00:00" &&
            StringToIpType(fields.at(0).toStdString(), ip)) {
            resolved.insert(ip);
        }
    }
    return resolved;
}

} // namespace

std::vector<bool> ProbeByArpTable(const std::vector<uint32_t>& candidates, int waitMs)
{
    std::vector<bool> answers(candidates.size(), true);
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        LOG(WARNING) << "Cannot probe for free addresses: no UDP socket";
        return answers;
    }
    const size_t probed = std::min(candidates.size(), kMaxProbesPerCall);
    for (size_t i = 0; i < probed; ++i) {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(kDiscardPort);
        to.sin_addr.s_addr = candidates[i];
        // A send may fail at once for an address the kernel already failed
        // to resolve; the ARP table below decides either way.
        (void)sendto(fd, "", 0, MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    }
    close(fd);
    QThread::msleep(static_cast<unsigned long>(std::max(0, waitMs)));
    const std::unordered_set<uint32_t> resolved = ResolvedAddresses();
    for (size_t i = 0; i < probed; ++i) {
        answers[i] = resolved.count(candidates[i]) != 0;
    }
    VLOG(1) << "Probed " << probed << " addresses for free ones";
    return answers;
}

std::vector<uint32_t> FreeAddresses(uint32_t first, uint32_t mask, size_t count,
                                    const std::unordered_set<uint32_t>& taken, const AddressProbe& probe,
                                    QString& error)
{
    const Ipv4Network network{first, mask};
    const uint32_t lowest = HostOrder(network.Base()) + 1;
    const uint32_t highest = HostOrder(network.Base() | ~mask) - 1; // below the broadcast address
    std::vector<uint32_t> free;
    // A /31 or /32 has no address a device could take beside the network's
    // own and broadcast ones.
    const bool hasHosts = HostOrder(~mask) >= 2 && IsContiguousMask(mask);
    size_t probesLeft = 2 * count + kExtraProbes;
    uint32_t next = std::max(HostOrder(first), lowest);
    for (int round = 0; hasHosts && free.size() < count && round < kMaxProbeRounds; ++round) {
        std::vector<uint32_t> candidates;
        while (candidates.size() < count - free.size() && next <= highest && next >= lowest) {
            const uint32_t ip = NetOrder(next);
            ++next;
            if (taken.count(ip) == 0) {
                candidates.push_back(ip);
            }
        }
        if (candidates.empty()) {
            break;
        }
        if (!probe) {
            free.insert(free.end(), candidates.begin(), candidates.end());
            continue;
        }
        if (candidates.size() > probesLeft) {
            candidates.resize(probesLeft);
        }
        probesLeft -= candidates.size();
        const std::vector<bool> answers = probe(candidates);
        for (size_t i = 0; i < candidates.size(); ++i) {
            if (i < answers.size() && !answers[i]) {
                free.push_back(candidates[i]);
            }
        }
        if (probesLeft == 0) {
            break;
        }
    }
    std::sort(free.begin(), free.end(), [](uint32_t a, uint32_t b) { return HostOrder(a) < HostOrder(b); });
    if (free.size() < count) {
        error = QCoreApplication::translate("ReaddressPlan",
                                            "Only %1 free addresses in %2 from %3 on; %4 are needed")
                    .arg(free.size())
                    .arg(network.Text(), AddressText(first))
                    .arg(count);
    }
    return free;
}

uint32_t CommonAddressIn(const std::vector<uint32_t>& addresses, const Ipv4Network& network)
{
    std::map<uint32_t, int> counts;
    for (const uint32_t ip : addresses) {
        if (ip != 0 && network.Contains(ip)) {
            ++counts[ip];
        }
    }
    uint32_t best = 0;
    int bestCount = 0;
    for (const auto& [ip, n] : counts) {
        if (n > bestCount) {
            best = ip;
            bestCount = n;
        }
    }
    return best;
}

std::unordered_set<uint32_t> TakenAddresses(const std::vector<WorkstationInterface>& interfaces,
                                            const std::vector<ListedDevice>& listed)
{
    std::unordered_set<uint32_t> taken;
    for (const WorkstationInterface& netif : interfaces) {
        for (const Ipv4Network& network : netif.networks) {
            taken.insert(network.address);
        }
    }
    for (const ListedDevice& device : listed) {
        taken.insert(device.params.ip);
    }
    return taken;
}

ProposedServers ProposeServers(const std::vector<ListedDevice>& devices, const Ipv4Network& network,
                               const std::vector<uint32_t>& workstationGateways)
{
    std::vector<uint32_t> gateways;
    std::vector<uint32_t> dnsServers;
    for (const ListedDevice& device : devices) {
        gateways.push_back(device.params.gateway);
        dnsServers.push_back(device.params.dns);
    }
    ProposedServers proposed;
    proposed.gateway = CommonAddressIn(gateways, network);
    if (proposed.gateway == 0) {
        // Devices fresh from the factory hold a gateway of their own
        // network; the workstation's own route there is what they need.
        proposed.gateway = CommonAddressIn(workstationGateways, network);
    }
    proposed.dns = CommonAddressIn(dnsServers, network);
    return proposed;
}

std::vector<uint32_t> WorkstationGateways()
{
    std::vector<uint32_t> gateways;
    QFile table(QStringLiteral("/proc/net/route"));
    if (!table.open(QIODevice::ReadOnly | QIODevice::Text)) {
        return gateways;
    }
    table.readLine(); // header
    // Iface Destination Gateway Flags ...; addresses as the kernel holds
    // them, in hexadecimal of the network byte order's bytes.
    while (!table.atEnd()) {
        const QList<QByteArray> fields = table.readLine().simplified().split(' ');
        bool ok = false;
        const uint32_t gateway = fields.size() > 2 ? fields.at(2).toUInt(&ok, 16) : 0;
        if (ok && gateway != 0 && std::find(gateways.begin(), gateways.end(), gateway) == gateways.end()) {
            gateways.push_back(gateway);
        }
    }
    return gateways;
}

ReaddressDefaults DefaultReaddress(const WorkstationInterface& netif,
                                   const std::vector<ListedDevice>& devices,
                                   const std::unordered_set<uint32_t>& taken, const AddressProbe& probe,
                                   const std::vector<uint32_t>& workstationGateways)
{
    ReaddressDefaults defaults;
    if (netif.networks.empty()) {
        return defaults;
    }
    const Ipv4Network& network = netif.networks.front();
    defaults.interfaceIndex = netif.index;
    defaults.mask = network.mask;
    const ProposedServers servers = ProposeServers(devices, network, workstationGateways);
    defaults.gateway = servers.gateway;
    defaults.dns = servers.dns;
    std::unordered_set<uint32_t> notFree = taken;
    notFree.insert(servers.gateway);
    notFree.insert(servers.dns);
    QString unused;
    const std::vector<uint32_t> first =
        FreeAddresses(NetOrder(HostOrder(network.address) + 1), network.mask, 1, notFree, probe, unused);
    defaults.first = first.empty() ? 0 : first.front();
    return defaults;
}

std::vector<ReaddressGroup> GroupByInterface(const std::vector<WorkstationInterface>& interfaces,
                                             const std::vector<ListedDevice>& devices)
{
    std::vector<ReaddressGroup> groups;
    for (const WorkstationInterface& netif : interfaces) {
        ReaddressGroup group;
        group.interfaceIndex = netif.index;
        group.interfaceName = netif.name;
        group.networks = netif.networks;
        for (const ListedDevice& device : devices) {
            if (device.interfaceIndex == netif.index) {
                group.devices.push_back(device);
            }
        }
        if (!group.devices.empty()) {
            groups.push_back(std::move(group));
        }
    }
    ReaddressGroup unknown;
    for (const ListedDevice& device : devices) {
        const bool known =
            std::any_of(interfaces.begin(), interfaces.end(),
                        [&](const WorkstationInterface& i) { return i.index == device.interfaceIndex; });
        if (!known) {
            unknown.devices.push_back(device);
        }
    }
    if (!unknown.devices.empty()) {
        groups.push_back(std::move(unknown));
    }
    return groups;
}

bool PlanGroup(ReaddressGroup& group, std::unordered_set<uint32_t>& taken, const AddressProbe& probe,
               QString& error)
{
    std::unordered_set<uint32_t> notFree = taken;
    for (const uint32_t server : {group.gateway, group.dns}) {
        if (server != 0) {
            notFree.insert(server);
        }
    }
    error.clear();
    group.addresses = FreeAddresses(group.first, group.mask, group.devices.size(), notFree, probe, error);
    if (!error.isEmpty()) {
        group.addresses.clear();
        return false;
    }
    taken.insert(group.addresses.begin(), group.addresses.end());
    return true;
}

QString DnsPlanText(uint32_t dns)
{
    return dns != 0 ? QCoreApplication::translate("ReaddressPlan", "DNS: %1 (given)").arg(AddressText(dns))
                    : QCoreApplication::translate(
                          "ReaddressPlan",
                          "DNS: none \u2014 the devices' current DNS cannot be read, and will be cleared");
}

QString GroupPlanText(const ReaddressGroup& group)
{
    const QString name = group.interfaceIndex != 0
                             ? group.interfaceName
                             : QCoreApplication::translate("ReaddressPlan", "interface not known");
    return QCoreApplication::translate("ReaddressPlan", "%1: mask %2, gateway %3")
        .arg(name, AddressText(group.mask),
             group.gateway != 0 ? AddressText(group.gateway)
                                : QCoreApplication::translate("ReaddressPlan", "none"));
}

DeviceNetworkParams ReaddressedRecord(const DeviceNetworkParams& current, uint32_t ip, uint32_t mask,
                                      uint32_t gateway, uint32_t dns)
{
    DeviceNetworkParams record = current;
    record.ip = ip;
    record.mask = mask;
    record.gateway = gateway;
    record.dns = dns;
    // A new address means nothing to a device that takes its address from
    // a DHCP server.
    record.connectionType = STATIC;
    return record;
}
