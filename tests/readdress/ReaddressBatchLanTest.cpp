// Readdressing simulated devices in the virtual LAN through the batch alone:
// free addresses of the workstation's network, one request per device by
// MAC, a refused password asked again, the confirming search, cancel.
#include "DiscoveryProtocol.h"
#include "LogCapture.h"
#include "ReaddressBatch.h"
#include "ReaddressPlan.h"
#include "SimDevice.h"
#include "StringUtils.h"
#include "TestHelpers.h"
#include "UdpModule.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

#include <map>
#include <memory>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int kBatchTimeoutMs = 30000;

std::string MacText(const char* mac)
{
    return utils::GetPrintedBufferInHex(mac, kMacSize, kMacSize, "-");
}

uint32_t Ip(const char* text)
{
    uint32_t ip = 0;
    StringToIpType(text, ip);
    return ip;
}

// One search of the LAN: the devices whose MAC begins with `macPrefix`, by
// MAC, with the interface each answered on.
std::map<std::string, ListedDevice> Search(const std::string& macPrefix)
{
    std::map<std::string, ListedDevice> found;
    UdpModuleWithTimer module(nullptr);
    QObject::connect(&module, &UdpModuleWithTimer::DatagramsReceived, [&](const DatagramBatch& batch) {
        for (const ReceivedDatagram& datagram : batch) {
            ListedDevice device;
            if (ParseDiscoverResponse(datagram.bytes.constData(), static_cast<size_t>(datagram.bytes.size()),
                                      device.params) &&
                MacText(device.params.mac).rfind(macPrefix, 0) == 0) {
                device.interfaceIndex = datagram.interfaceIndex;
                found[MacText(device.params.mac)] = device;
            }
        }
    });
    QSignalSpy stopped(&module, SIGNAL(Stopped()));
    module.Start();
    const std::vector<char> request = ComposeDiscoverRequest();
    module.SendBroadcast(QByteArray(request.data(), static_cast<int>(request.size())));
    stopped.wait(UdpModuleWithTimer::kListenTimeMs + 2000);
    return found;
}

std::vector<ReaddressEntry> Entries(const std::map<std::string, ListedDevice>& listed,
                                    const std::vector<uint32_t>& addresses, uint32_t mask,
                                    uint32_t gateway = 0)
{
    std::vector<ReaddressEntry> entries;
    for (const auto& [mac, device] : listed) {
        ReaddressEntry entry;
        entry.current = device.params;
        entry.interfaceIndex = device.interfaceIndex;
        entry.newIp = addresses.at(entries.size());
        entry.newMask = mask;
        entry.newGateway = gateway;
        entries.push_back(entry);
    }
    return entries;
}

// Another program on the reply port, as a second copy of the tool is: a
// socket that does not share it.
class PortHolder final {
public:
    PortHolder() : fd_(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0))
    {
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_port = htons(UdpModuleWithTimer::kListenPort);
        local.sin_addr.s_addr = htonl(INADDR_ANY);
        bound_ = fd_ >= 0 && bind(fd_, reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0;
    }
    ~PortHolder()
    {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    PortHolder(const PortHolder&) = delete;
    PortHolder& operator=(const PortHolder&) = delete;
    bool Bound() const { return bound_; }

private:
    int fd_ = -1;
    bool bound_ = false;
};

} // namespace

class ReaddressBatchLanTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        if (!SimDevice::Available()) {
            QSKIP("needs the virtual LAN (run through ctest)");
        }
    }

    // The namespaces of dev1..dev4 hold 10.77.0.11-14 and answer ARP though
    // no listed device has those addresses: only the probe keeps them out.
    void freeAddressesSkipTakenAndAnsweringOnes()
    {
        const std::unordered_set<uint32_t> taken{Ip("10.77.0.1"), Ip("10.77.0.16")};
        QString error;
        const AddressProbe probe = [](const std::vector<uint32_t>& candidates) {
            return ProbeByArpTable(candidates, kArpProbeWaitMs);
        };
        const std::vector<uint32_t> free =
            FreeAddresses(Ip("10.77.0.10"), Ip("255.255.255.0"), 4, taken, probe, error);
        QCOMPARE(free, (std::vector<uint32_t>{Ip("10.77.0.10"), Ip("10.77.0.15"), Ip("10.77.0.17"),
                                              Ip("10.77.0.18")}));
        QVERIFY(error.isEmpty());

        // The network's end is never passed, its broadcast address never given.
        const std::vector<uint32_t> last =
            FreeAddresses(Ip("10.77.0.253"), Ip("255.255.255.0"), 3, taken, {}, error);
        QCOMPARE(last, (std::vector<uint32_t>{Ip("10.77.0.253"), Ip("10.77.0.254")}));
        QCOMPARE(error,
                 QStringLiteral("Only 2 free addresses in 10.77.0.0/24 from 10.77.0.253 on; 3 are needed"));
    }

    // Five devices outside the workstation's network, one of them with DHCP
    // and another password, one that refuses every change with code 2 and
    // has its gateway in the workstation's network: the defaults put them
    // into 10.77.0.0/24 from the first free address on, with that gateway;
    // each keeps its name; the refused password is asked again for that
    // device only, and the second answer is taken; the failure does not stop
    // the batch; the confirming search sees the others at their new
    // addresses. No password reaches the log.
    void readdressesConfirmsAndAsksAgainForOneDevice()
    {
        SimDevice group(QStringLiteral("dev1"),
                        {QStringLiteral("--count"), QStringLiteral("3"), QStringLiteral("--mac"),
                         QStringLiteral("02:E5:00:00:01:01"), QStringLiteral("--ip"),
                         QStringLiteral("192.168.1.100"), QStringLiteral("--name"), QStringLiteral("Kasse"),
                         QStringLiteral("--password"), QStringLiteral("pw-all-7f")},
                        QStringLiteral("udp"));
        SimDevice other(QStringLiteral("dev2"),
                        {QStringLiteral("--mac"), QStringLiteral("02:E5:00:00:02:01"), QStringLiteral("--ip"),
                         QStringLiteral("192.168.1.100"), QStringLiteral("--addressing"),
                         QStringLiteral("dhcp"), QStringLiteral("--name"), QStringLiteral("Tor Süd"),
                         QStringLiteral("--password"), QStringLiteral("pw-own-3c")},
                        QStringLiteral("udp"));
        SimDevice failing(QStringLiteral("dev3"),
                          {QStringLiteral("--mac"), QStringLiteral("02:E5:00:00:03:01"),
                           QStringLiteral("--ip"), QStringLiteral("192.168.1.100"),
                           QStringLiteral("--gateway"), QStringLiteral("10.77.0.254"),
                           QStringLiteral("--password"), QStringLiteral("pw-all-7f"),
                           QStringLiteral("--settings-result"), QStringLiteral("2")},
                          QStringLiteral("udp"));
        QVERIFY(group.IsReady() && other.IsReady() && failing.IsReady());

        const std::map<std::string, ListedDevice> listed = Search("02-E5-");
        QCOMPARE(listed.size(), size_t(5));
        std::vector<ListedDevice> devices;
        for (const auto& [mac, device] : listed) {
            devices.push_back(device);
        }
        const std::vector<WorkstationInterface> interfaces = WorkstationInterfaces();
        const std::unordered_set<uint32_t> taken = TakenAddresses(interfaces, devices);
        const AddressProbe probe = [](const std::vector<uint32_t>& candidates) {
            return ProbeByArpTable(candidates, kArpProbeWaitMs);
        };
        const auto netif =
            std::find_if(interfaces.begin(), interfaces.end(), [&](const WorkstationInterface& i) {
                return i.index == devices.front().interfaceIndex;
            });
        QVERIFY(netif != interfaces.end());
        const ReaddressDefaults defaults = DefaultReaddress(*netif, devices, taken, probe, {});
        QCOMPARE(defaults.interfaceIndex, devices.front().interfaceIndex);
        QCOMPARE(IpTypeToString(defaults.first), std::string("10.77.0.2"));
        QCOMPARE(IpTypeToString(defaults.mask), std::string("255.255.255.0"));
        // The one gateway inside the new network, not the others' 192.168.1.1.
        QCOMPARE(IpTypeToString(defaults.gateway), std::string("10.77.0.254"));
        QCOMPARE(defaults.dns, 0u);
        QString error;
        const std::vector<uint32_t> addresses =
            FreeAddresses(defaults.first, defaults.mask, listed.size(), taken, probe, error);
        QVERIFY2(error.isEmpty(), qPrintable(error));

        LogCapture log;
        ReaddressBatch batch(Entries(listed, addresses, defaults.mask, defaults.gateway),
                             QByteArray("pw-all-7f"), nullptr);
        QStringList asked;
        const QList<QByteArray> answers{"pw-wrong", "pw-own-3c"};
        batch.SetPasswordAsker([&](const ReaddressEntry& entry, QByteArray& password, bool&) {
            asked << QString::fromStdString(entry.current.deviceName);
            password = answers.value(asked.size() - 1);
            return true;
        });
        QSignalSpy finished(&batch, SIGNAL(Finished()));
        QElapsedTimer elapsed;
        elapsed.start();
        batch.Start();
        QVERIFY(finished.wait(kBatchTimeoutMs));
        qInfo("5 devices readdressed and confirmed in %lld ms", static_cast<long long>(elapsed.elapsed()));

        QCOMPARE(asked, QStringList({QStringLiteral("Tor Süd"), QStringLiteral("Tor Süd")}));
        QStringList statuses;
        for (const ReaddressEntry& entry : batch.Entries()) {
            statuses << entry.StatusText();
        }
        // In MAC order: the group of three, the DHCP device, the failing one.
        QCOMPARE(statuses, QStringList({QStringLiteral("confirmed"), QStringLiteral("confirmed"),
                                        QStringLiteral("confirmed"), QStringLiteral("confirmed"),
                                        QStringLiteral("error 2")}));
        QCOMPARE(batch.Summary(), QStringLiteral("4 of 5 devices readdressed and confirmed; 1 failed"));

        const std::map<std::string, ListedDevice> after = Search("02-E5-");
        QCOMPARE(after.size(), size_t(5));
        size_t i = 0;
        for (const auto& [mac, device] : after) {
            const DeviceNetworkParams& was = listed.at(mac).params;
            QCOMPARE(device.params.deviceName, was.deviceName);
            if (i < 4) {
                QCOMPARE(device.params.ip, addresses[i]);
                QCOMPARE(IpTypeToString(device.params.gateway), std::string("10.77.0.254"));
                QCOMPARE(device.params.connectionType, STATIC);
                DeviceNetworkParams record;
                QVERIFY(batch.NewRecord(i, record));
                QCOMPARE(record.ip, addresses[i]);
                QCOMPARE(record.deviceName, was.deviceName);
            } else {
                QCOMPARE(IpTypeToString(device.params.ip), std::string("192.168.1.100"));
                DeviceNetworkParams record;
                QVERIFY(!batch.NewRecord(i, record));
            }
            ++i;
        }
        for (const std::string& message : log.Messages()) {
            QVERIFY2(message.find("pw-") == std::string::npos, message.c_str());
        }
        QVERIFY(log.Contains("Readdress ended: 4 of 5 devices readdressed and confirmed; 1 failed"));
    }

    // Cancel while the first request is out: that device is changed and
    // confirmed, the others are never sent to, and the summary names the
    // changed one. A refused password without an asker stays refused.
    void cancelStopsBeforeTheNextDevice()
    {
        SimDevice group(QStringLiteral("dev4"),
                        {QStringLiteral("--count"), QStringLiteral("3"), QStringLiteral("--mac"),
                         QStringLiteral("02:E6:00:00:01:01"), QStringLiteral("--ip"),
                         QStringLiteral("192.168.3.50"), QStringLiteral("--name"), QStringLiteral("Lager"),
                         QStringLiteral("--settings-delay-ms"), QStringLiteral("300")},
                        QStringLiteral("udp"));
        QVERIFY(group.IsReady());
        const std::map<std::string, ListedDevice> listed = Search("02-E6-");
        QCOMPARE(listed.size(), size_t(3));
        const std::vector<uint32_t> addresses{Ip("10.77.0.150"), Ip("10.77.0.151"), Ip("10.77.0.152")};

        ReaddressBatch refused(Entries(listed, addresses, Ip("255.255.255.0")), QByteArray("nope"), nullptr);
        QSignalSpy refusedDone(&refused, SIGNAL(Finished()));
        refused.Start();
        QVERIFY(refusedDone.wait(kBatchTimeoutMs));
        QCOMPARE(refused.Entries().at(0).StatusText(), QStringLiteral("invalid password"));
        QCOMPARE(refused.Summary(), QStringLiteral("0 of 3 devices readdressed and confirmed; 3 failed"));

        ReaddressBatch batch(Entries(listed, addresses, Ip("255.255.255.0")), QByteArray("admin"), nullptr);
        QSignalSpy finished(&batch, SIGNAL(Finished()));
        batch.Start();
        QVERIFY(batch.IsRunning());
        batch.Cancel();
        QVERIFY(finished.wait(kBatchTimeoutMs));
        QStringList statuses;
        for (const ReaddressEntry& entry : batch.Entries()) {
            statuses << entry.StatusText();
        }
        QCOMPARE(statuses, QStringList({QStringLiteral("confirmed"), QStringLiteral("not sent (cancelled)"),
                                        QStringLiteral("not sent (cancelled)")}));
        QCOMPARE(batch.Summary(), QStringLiteral("1 of 3 devices readdressed and confirmed; cancelled, 2 not "
                                                 "sent; already changed: Lager (10.77.0.150)"));
        const std::map<std::string, ListedDevice> after = Search("02-E6-");
        QCOMPARE(IpTypeToString(after.at("02-E6-00-00-01-02").params.ip), std::string("192.168.3.51"));
        QCOMPARE(IpTypeToString(after.at("02-E6-00-00-01-03").params.ip), std::string("192.168.3.52"));
    }

    // Another program holds the reply port while a batch runs: the batch
    // waits and goes on once the port is free; held for good, the batch
    // stops with one line and sends nothing. Devices that bring their new
    // addresses up 6 s after the change are confirmed all the same.
    void waitsForTheReplyPortAndForLateAddresses()
    {
        SimDevice late(QStringLiteral("dev2"),
                       {QStringLiteral("--count"), QStringLiteral("2"), QStringLiteral("--mac"),
                        QStringLiteral("02:E7:00:00:01:01"), QStringLiteral("--ip"),
                        QStringLiteral("192.168.4.50"), QStringLiteral("--confirm-delay-ms"),
                        QStringLiteral("6000")},
                       QStringLiteral("udp"));
        QVERIFY(late.IsReady());
        const std::map<std::string, ListedDevice> listed = Search("02-E7-");
        QCOMPARE(listed.size(), size_t(2));
        const auto statuses = [](const ReaddressBatch& batch) {
            QStringList texts;
            for (const ReaddressEntry& entry : batch.Entries()) {
                texts << entry.StatusText();
            }
            return texts;
        };

        auto holder = std::make_unique<PortHolder>();
        QVERIFY(holder->Bound());
        ReaddressBatch batch(Entries(listed, {Ip("10.77.0.160"), Ip("10.77.0.161")}, Ip("255.255.255.0")),
                             QByteArray("admin"), nullptr);
        QSignalSpy waits(&batch, &ReaddressBatch::PortWait);
        connect(&batch, &ReaddressBatch::PortWait, this, [&holder](int remainingMs) {
            if (remainingMs > 0) {
                holder.reset(); // the other program ends
            }
        });
        QSignalSpy finished(&batch, SIGNAL(Finished()));
        batch.Start();
        QVERIFY(finished.wait(kBatchTimeoutMs));
        QCOMPARE(statuses(batch), QStringList({QStringLiteral("confirmed"), QStringLiteral("confirmed")}));
        QVERIFY(waits.size() >= 2 && waits.first().at(0).toInt() > 0 && waits.last().at(0).toInt() == 0);
        QVERIFY(batch.StopLine().isEmpty());

        holder = std::make_unique<PortHolder>();
        ReaddressBatch stopped(Entries(listed, {Ip("10.77.0.170"), Ip("10.77.0.171")}, Ip("255.255.255.0")),
                               QByteArray("admin"), nullptr);
        QSignalSpy stoppedEnd(&stopped, SIGNAL(Finished()));
        stopped.Start();
        QVERIFY(stoppedEnd.wait(kBatchTimeoutMs));
        QCOMPARE(stopped.StopLine(),
                 QStringLiteral("Stopped: another program holds UDP port 49077; 2 devices not sent"));
        QCOMPARE(statuses(stopped),
                 QStringList({QStringLiteral("not sent: another program holds UDP port 49077"),
                              QStringLiteral("not sent: another program holds UDP port 49077")}));
        holder.reset();
        const std::map<std::string, ListedDevice> after = Search("02-E7-");
        QCOMPARE(IpTypeToString(after.at("02-E7-00-00-01-01").params.ip), std::string("10.77.0.160"));
        QCOMPARE(IpTypeToString(after.at("02-E7-00-00-01-02").params.ip), std::string("10.77.0.161"));
    }
};

QTEST_MAIN(ReaddressBatchLanTest)
#include "ReaddressBatchLanTest.moc"
