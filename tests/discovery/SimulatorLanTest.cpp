// The simulator's UDP settings exchange, driven by the tool's own transport
// and protocol code inside the virtual LAN: the device checks the password
// digest, applies the change, and reports it in its next discovery reply; the
// fault switches break the exchange in the ways the settings page must
// survive.
#include "DiscoveryProtocol.h"
#include "SimDevice.h"
#include "UdpModule.h"

#include <QByteArray>
#include <QSignalSpy>
#include <QTest>

#include <openssl/evp.h>

#include <map>
#include <vector>

namespace {

constexpr char kMac[6] = {0x02, 0x51, 0x45, 0x4C, 0x00, 0x07};
const QString kMacText = QStringLiteral("02:51:45:4C:00:07");

struct Digest {
    unsigned char bytes[16] = {};
    explicit Digest(const std::string& password)
    {
        unsigned int length = 0;
        EVP_Digest(password.data(), password.size(), bytes, &length, EVP_md5(), nullptr);
    }
};

QByteArray Bytes(const std::vector<char>& v)
{
    return QByteArray(v.data(), static_cast<int>(v.size()));
}

// One run of the transport: sends the request and returns every datagram
// that came back within the listening time.
std::vector<QByteArray> Exchange(const QByteArray& request)
{
    UdpModuleWithTimer module(nullptr);
    std::vector<QByteArray> replies;
    QObject::connect(&module, &UdpModuleWithTimer::DatagramReceived,
                     [&replies](const QByteArray& d) { replies.push_back(d); });
    QSignalSpy stopped(&module, SIGNAL(Stopped()));
    module.Start();
    module.SendBroadcast(request);
    stopped.wait(UdpModuleWithTimer::kListenTimeMs + 5000);
    return replies;
}

// The codes of the replies that the tool accepts as this device's answer.
std::vector<int> Codes(const std::vector<QByteArray>& replies, RequestType type, const char* mac = kMac)
{
    std::vector<int> codes;
    for (const QByteArray& reply : replies) {
        ResponseCode code = Success;
        if (ParseNetworkAuthSettingsResponse(reply.constData(), static_cast<size_t>(reply.size()), type, mac,
                                             code)) {
            codes.push_back(code);
        }
    }
    return codes;
}

// The replies of the devices whose MAC differs from kMac in the last byte
// only, by that byte's distance from kMac's.
std::map<int, DeviceNetworkParams> DiscoverAll()
{
    std::map<int, DeviceNetworkParams> found;
    for (const QByteArray& reply : Exchange(Bytes(ComposeDiscoverRequest()))) {
        DeviceNetworkParams params{};
        if (ParseDiscoverResponse(reply.constData(), static_cast<size_t>(reply.size()), params) &&
            std::equal(kMac, kMac + 5, params.mac)) {
            found[params.mac[5] - kMac[5]] = params;
        }
    }
    return found;
}

DeviceNetworkParams Discover()
{
    return DiscoverAll()[0];
}

std::map<int, std::string> DiscoverAddresses()
{
    std::map<int, std::string> addresses;
    for (const auto& device : DiscoverAll()) {
        addresses[device.first] = IpTypeToString(device.second.ip);
    }
    return addresses;
}

DeviceNetworkParams NewSettings()
{
    DeviceNetworkParams params{};
    std::copy(kMac, kMac + 6, params.mac);
    params.deviceName = "Renamed";
    params.connectionType = DHCP;
    StringToIpType("10.77.0.99", params.ip);
    StringToIpType("255.255.0.0", params.mask);
    StringToIpType("10.77.0.254", params.gateway);
    StringToIpType("10.77.0.53", params.dns);
    return params;
}

} // namespace

class SimulatorLanTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        if (!SimDevice::Available()) {
            QSKIP("needs the virtual LAN (run through ctest)");
        }
    }

    void networkSettingsNeedTheRightDigestAndShowInDiscovery()
    {
        SimDevice sim(
            QStringLiteral("dev1"),
            {QStringLiteral("--mac"), kMacText, QStringLiteral("--password"), QStringLiteral("pass")},
            QStringLiteral("udp"));
        QVERIFY(sim.IsReady());
        const DeviceNetworkParams wanted = NewSettings();

        const Digest wrong("Pass");
        QCOMPARE(Codes(Exchange(Bytes(ComposeNetworkSettingsRequest(wanted, wrong.bytes))), NetworkSetting),
                 std::vector<int>{InvalidPassword});
        QCOMPARE(Discover().deviceName, std::string("QEL Sim"));

        const Digest right("pass");
        QCOMPARE(Codes(Exchange(Bytes(ComposeNetworkSettingsRequest(wanted, right.bytes))), NetworkSetting),
                 std::vector<int>{Success});
        const DeviceNetworkParams now = Discover();
        QCOMPARE(now.deviceName, std::string("Renamed"));
        QCOMPARE(IpTypeToString(now.ip), std::string("10.77.0.99"));
        QCOMPARE(IpTypeToString(now.mask), std::string("255.255.0.0"));
        QCOMPARE(IpTypeToString(now.gateway), std::string("10.77.0.254"));
        QCOMPARE(now.connectionType, DHCP);

        // A request for another device is not answered.
        DeviceNetworkParams other = wanted;
        other.mac[5] = 0x08;
        QVERIFY(Exchange(Bytes(ComposeNetworkSettingsRequest(other, right.bytes))).empty());
    }

    // Three devices at one address, the second with its own password: a
    // request to one MAC readdresses that device alone, and a wrong password
    // is refused with code 1 and changes nothing.
    void sameAddressGroupIsReaddressedOneByOne()
    {
        SimDevice sim(QStringLiteral("dev1"),
                      {QStringLiteral("--count"), QStringLiteral("3"), QStringLiteral("--same-ip"),
                       QStringLiteral("--mac"), kMacText, QStringLiteral("--password-of"),
                       QStringLiteral("2=other")},
                      QStringLiteral("udp"));
        QVERIFY(sim.IsReady());
        const std::string factory = "192.168.1.100";
        QCOMPARE(DiscoverAddresses(), (std::map<int, std::string>{{0, factory}, {1, factory}, {2, factory}}));

        const Digest admin("admin");
        const Digest other("other");
        DeviceNetworkParams first = NewSettings();
        StringToIpType("10.77.0.101", first.ip);
        QCOMPARE(Codes(Exchange(Bytes(ComposeNetworkSettingsRequest(first, admin.bytes))), NetworkSetting),
                 std::vector<int>{Success});
        DeviceNetworkParams second = NewSettings();
        second.mac[5] = static_cast<char>(kMac[5] + 1);
        StringToIpType("10.77.0.102", second.ip);
        QCOMPARE(Codes(Exchange(Bytes(ComposeNetworkSettingsRequest(second, admin.bytes))), NetworkSetting,
                       second.mac),
                 std::vector<int>{InvalidPassword});
        QCOMPARE(DiscoverAddresses(),
                 (std::map<int, std::string>{{0, "10.77.0.101"}, {1, factory}, {2, factory}}));
        QCOMPARE(Codes(Exchange(Bytes(ComposeNetworkSettingsRequest(second, other.bytes))), NetworkSetting,
                       second.mac),
                 std::vector<int>{Success});
        QCOMPARE(DiscoverAddresses(),
                 (std::map<int, std::string>{{0, "10.77.0.101"}, {1, "10.77.0.102"}, {2, factory}}));
    }

    void passwordChangeTakesEffect()
    {
        SimDevice sim(QStringLiteral("dev2"),
                      {QStringLiteral("--mac"), kMacText, QStringLiteral("--password"), QString()},
                      QStringLiteral("udp"));
        QVERIFY(sim.IsReady());
        const Digest empty("");
        QCOMPARE(Codes(Exchange(Bytes(ComposeAuthSettingsRequest(kMac, empty.bytes, "новый"))), AuthSetting),
                 std::vector<int>{Success});
        QCOMPARE(Codes(Exchange(Bytes(ComposeAuthSettingsRequest(kMac, empty.bytes, "x"))), AuthSetting),
                 std::vector<int>{InvalidPassword});
        const Digest changed("новый");
        QCOMPARE(Codes(Exchange(Bytes(ComposeAuthSettingsRequest(kMac, changed.bytes, "x"))), AuthSetting),
                 std::vector<int>{Success});
    }

    // A forced result code changes nothing; duplicates and malformed replies
    // arrive around the real one, which the tool's parser alone accepts.
    void faultSwitches()
    {
        const Digest right("admin");
        const QByteArray request = Bytes(ComposeNetworkSettingsRequest(NewSettings(), right.bytes));
        {
            SimDevice sim(
                QStringLiteral("dev1"),
                {QStringLiteral("--mac"), kMacText, QStringLiteral("--settings-result"), QStringLiteral("2")},
                QStringLiteral("udp"));
            QVERIFY(sim.IsReady());
            QCOMPARE(Codes(Exchange(request), NetworkSetting), std::vector<int>{Error});
            QCOMPARE(Discover().deviceName, std::string("QEL Sim"));
        }
        {
            SimDevice sim(QStringLiteral("dev1"),
                          {QStringLiteral("--mac"), kMacText, QStringLiteral("--settings-duplicate"),
                           QStringLiteral("--malformed"), QStringLiteral("settings-short"),
                           QStringLiteral("--malformed"), QStringLiteral("settings-wrong-mac"),
                           QStringLiteral("--malformed"), QStringLiteral("settings-wrong-type")},
                          QStringLiteral("udp"));
            QVERIFY(sim.IsReady());
            const std::vector<QByteArray> replies = Exchange(request);
            QCOMPARE(replies.size(), size_t(5));
            QCOMPARE(Codes(replies, NetworkSetting), (std::vector<int>{Success, Success}));
        }
        {
            SimDevice sim(QStringLiteral("dev1"),
                          {QStringLiteral("--mac"), kMacText, QStringLiteral("--settings-no-reply")},
                          QStringLiteral("udp"));
            QVERIFY(sim.IsReady());
            QVERIFY(Exchange(request).empty());
            QCOMPARE(Discover().deviceName, std::string("Renamed"));
        }
        {
            // Late: past the listening time of the exchange.
            SimDevice sim(QStringLiteral("dev1"),
                          {QStringLiteral("--mac"), kMacText, QStringLiteral("--settings-delay-ms"),
                           QStringLiteral("3500")},
                          QStringLiteral("udp"));
            QVERIFY(sim.IsReady());
            QVERIFY(Exchange(request).empty());
        }
    }
};

QTEST_GUILESS_MAIN(SimulatorLanTest)
#include "SimulatorLanTest.moc"
