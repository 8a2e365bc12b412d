// Readdressing many devices at once: 100 simulated devices (one simulator
// process) outside the workstation's network are given free addresses in
// it, one settings request each, then confirmed by the batch's own search.
// Reports the time per device of the requests, the confirming search, and a
// plain search of the same devices as the reference, all in one run. The
// goal: under 200 ms per device plus one search. Runs inside the
// workstation namespace of the virtual LAN (root):
//   scripts/virtual-lan up 1
//   scripts/virtual-lan exec ws build/bench/readdress/qel_readdress_bench
#include "BenchLan.h"
#include "DiscoveryProtocol.h"
#include "Ipv4Networks.h"
#include "LogSetup.h"
#include "ReaddressBatch.h"
#include "ReaddressPlan.h"
#include "SimDevice.h"
#include "StringUtils.h"
#include "UdpModule.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>

namespace {

constexpr int kDevices = 100;
const char kFirstMac[] = "02:BD:00:00:00:00";
const char kMacPrefix[] = "02-BD-";
// Far above what 100 devices take; bounds a broken run.
constexpr int kBatchBoundMs = 120000;

uint32_t Ip(const char* text)
{
    uint32_t ip = 0;
    StringToIpType(text, ip);
    return ip;
}

// One search of the tool's transport: this benchmark's devices by MAC, and
// when it ended after the request.
std::map<std::string, ListedDevice> Search(qint64& elapsedMs)
{
    std::map<std::string, ListedDevice> found;
    UdpModuleWithTimer module(nullptr);
    QEventLoop loop;
    QObject::connect(&module, &UdpModuleWithTimer::DatagramsReceived, [&](const DatagramBatch& batch) {
        for (const ReceivedDatagram& datagram : batch) {
            ListedDevice device;
            if (ParseDiscoverResponse(datagram.bytes.constData(), static_cast<size_t>(datagram.bytes.size()),
                                      device.params)) {
                const std::string mac =
                    utils::GetPrintedBufferInHex(device.params.mac, kMacSize, kMacSize, "-");
                if (mac.rfind(kMacPrefix, 0) == 0) {
                    device.interfaceIndex = datagram.interfaceIndex;
                    found[mac] = device;
                }
            }
        }
    });
    QObject::connect(&module, &UdpModuleWithTimer::Stopped, &loop, &QEventLoop::quit);
    QElapsedTimer clock;
    clock.start();
    module.Start();
    const std::vector<char> request = ComposeDiscoverRequest();
    module.SendBroadcast(QByteArray(request.data(), static_cast<int>(request.size())));
    loop.exec();
    elapsedMs = clock.elapsed();
    return found;
}

} // namespace

int main(int argc, char* argv[])
{
    UseThisBuildsSimulator();
    QCoreApplication app(argc, argv);
    // The change records go to the log file, as from the tool.
    ConfigureLogging();
    // The searches broadcast: only ever from the virtual LAN's workstation.
    if (!OnVirtualLanWorkstation("readdress")) {
        return 77;
    }
    SimDevice sim(QStringLiteral("dev1"),
                  {QStringLiteral("--count"), QString::number(kDevices), QStringLiteral("--mac"),
                   QString::fromLatin1(kFirstMac), QStringLiteral("--ip"), QStringLiteral("192.168.50.10"),
                   QStringLiteral("--name"), QStringLiteral("Bench")},
                  QStringLiteral("udp"));
    if (!SimulatorStarted(sim, "readdress")) {
        return 77;
    }

    qint64 searchMs = 0;
    const std::map<std::string, ListedDevice> listed = Search(searchMs);
    std::printf("readdress: %d simulated devices in one process; reference search: %zu listed in %lld ms\n",
                kDevices, listed.size(), static_cast<long long>(searchMs));
    if (listed.size() != static_cast<size_t>(kDevices)) {
        std::printf("readdress: the search listed %zu of %d devices\n", listed.size(), kDevices);
        return 1;
    }
    std::vector<ListedDevice> devices;
    for (const auto& [mac, device] : listed) {
        devices.push_back(device);
    }
    QString error;
    ReaddressGroup group;
    group.devices = devices;
    group.first = Ip("10.77.0.100");
    group.mask = Ip("255.255.255.0");
    std::unordered_set<uint32_t> taken = TakenAddresses(WorkstationInterfaces(), devices);
    if (!PlanGroup(group, taken, {}, error)) {
        std::printf("readdress: %s\n", qPrintable(error));
        return 1;
    }
    ReaddressBatch batch(PlannedEntries({group}), QByteArray("admin"), nullptr);
    QEventLoop loop;
    QElapsedTimer clock;
    qint64 sentMs = -1;
    QObject::connect(&batch, &ReaddressBatch::EntryChanged, [&](int index) {
        if (static_cast<size_t>(index) + 1 == batch.Entries().size() && sentMs < 0) {
            sentMs = clock.elapsed(); // the last device's reply: the confirming search starts
        }
    });
    QObject::connect(&batch, &ReaddressBatch::Finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(kBatchBoundMs, &batch, [&batch] { batch.Cancel(); });
    clock.start();
    batch.Start();
    loop.exec();
    const qint64 totalMs = clock.elapsed();
    const qint64 confirmMs = totalMs - sentMs;

    const double perDeviceMs = static_cast<double>(sentMs) / kDevices;
    std::printf("readdress: %s\n", qPrintable(batch.Summary()));
    std::printf("readdress: requests %lld ms (%.1f ms per device), confirming search %lld ms, total %lld ms "
                "(%.1f ms per device with the search)\n",
                static_cast<long long>(sentMs), perDeviceMs, static_cast<long long>(confirmMs),
                static_cast<long long>(totalMs), static_cast<double>(totalMs) / kDevices);
    const bool allConfirmed = batch.Summary().startsWith(QStringLiteral("%1 of %1 ").arg(kDevices));
    const bool withinGoal = totalMs < kDevices * 200 + searchMs;
    std::printf("readdress: goal under 200 ms per device plus one search (%lld ms here): %s\n",
                static_cast<long long>(kDevices * 200 + searchMs), withinGoal ? "met" : "missed");
    return allConfirmed ? 0 : 1;
}
