// The template batch against simulated devices on loopback: a device that
// already holds the template is sent nothing, a cancel lets the device at
// work finish and names the devices that were changed, and every device
// ends with what it held or with the template.
#include "TemplateBatch.h"

#include "BlockingRequests.h"
#include "ConfigTemplate.h"
#include "HttpClientModule.h"
#include "LoopbackSim.h"
#include "PartState.h"
#include "TestHelpers.h"
#include "VcaConfigReader.h"

#include <QTemporaryDir>
#include <functional>
#include <QtTest>
#include <memory>

namespace {

constexpr int kWaitMs = 30000;

const char kTemplate[] =
    "Ch {\n"
    "  zones { id: 3 points { x: 1 y: 2 } points { x: 60000 y: 2 } points { x: 1 y: 50000 }\n"
    "          enable: false name: \"Hof\" style: POLYGON }\n"
    "  campos { FOV: 30 camangle: 20 height: 5 }\n"
    "  timeout: 42\n"
    "  objectClasses { minArea: 1 maxArea: 2 minHeight: 1 maxHeight: 2 }\n"
    "  encoder { fps: 15 bitrate: 1000000 }\n"
    "  mog { history: 500 }\n"
    "}\n";

// A device whose zones hold one that adding a zone cannot write back.
const char kLossyDevice[] =
    "Ch {\n"
    "  zones { id: 5 points { x: 1 y: 2 } points { x: 600 y: 2 } points { x: 1 y: 500 }\n"
    "          enable: true name: \"Exit\" type: NONDETECTION style: POLYGON }\n"
    "  campos { FOV: 30 camangle: 20 height: 5 }\n"
    "  encoder { fps: 25 bitrate: 2000000 }\n"
    "  mog { history: 500 }\n"
    "}\n";

} // namespace

class TemplateBatchTest : public QObject {
    Q_OBJECT
private slots:
    void sendsNothingToMatchingDeviceAndCancelsBetweenDevices()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString seed = WriteFile(dir, QStringLiteral("seed.txt"), kTemplate);
        QVERIFY(!seed.isEmpty());
        LoopbackSim holding({QStringLiteral("--http-config-file"), seed});
        LoopbackSim plain;
        LoopbackSim never;
        QVERIFY(holding.IsReady() && plain.IsReady() && never.IsReady());

        std::unique_ptr<VcaConfigReader> reader;
        QString error;
        QVERIFY2(ReadConfigTemplate(kTemplate, reader, error), qPrintable(error));
        std::vector<DeviceNetworkParams> devices(3);
        const char* const names[] = {"Holding", "Plain", "Never"};
        for (size_t i = 0; i < devices.size(); ++i) {
            devices[i].deviceName = names[i];
            StringToIpType("127.0.0.1", devices[i].ip);
        }
        TemplatePartChoice choice;
        choice.camera = true;
        TemplateBatch batch(std::shared_ptr<const VcaConfigReader>(std::move(reader)), choice, devices,
                            nullptr);
        batch.SetHosts({QStringLiteral("127.0.0.1:%1").arg(holding.HttpPort()),
                        QStringLiteral("127.0.0.1:%1").arg(plain.HttpPort()),
                        QStringLiteral("127.0.0.1:%1").arg(never.HttpPort())});
        connect(&batch, &TemplateBatch::EntryChanged, this, [&batch](int index) {
            if (index == 1 && batch.Entries().at(1).finished) {
                batch.Cancel();
            }
        });
        QSignalSpy finished(&batch, &TemplateBatch::Finished);
        batch.Start();
        QVERIFY(finished.wait(kWaitMs));

        const std::vector<TemplateEntry>& entries = batch.Entries();
        QVERIFY(entries[0].Matches() && !entries[0].sent);
        QVERIFY(entries[1].Matches() && entries[1].sent);
        QCOMPARE(batch.ResultLines(1),
                 QStringList({QStringLiteral("127.0.0.1 zones: matches"),
                              QStringLiteral("127.0.0.1 classifier and timeout: matches"),
                              QStringLiteral("127.0.0.1 encoder: matches"),
                              QStringLiteral("127.0.0.1 camera position: matches")}));
        QVERIFY(!entries[2].sent);
        QCOMPARE(batch.ResultLines(2).first(), QStringLiteral("127.0.0.1 zones: not sent (cancelled)"));
        QCOMPARE(batch.Summary(), QStringLiteral("2 of 3 devices match the template; cancelled, 1 not sent; "
                                                 "changed: Plain (127.0.0.1)"));
    }

    // Each device ends with what it held or with the template: a failed add
    // is put back; a device whose zones re-adding would lose, or that holds
    // settings this version does not know, is sent nothing.
    void failedWriteIsPutBackAndLossyDevicesAreSentNothing()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString lossySeed = WriteFile(dir, QStringLiteral("lossy.txt"), kLossyDevice);
        LoopbackSim failing({QStringLiteral("--http-fail-nth-write"), QStringLiteral("2")});
        LoopbackSim lossy({QStringLiteral("--http-config-file"), lossySeed});
        LoopbackSim newer({QStringLiteral("--http-config-fault"), QStringLiteral("unknown-fields")});
        QVERIFY(failing.IsReady() && lossy.IsReady() && newer.IsReady());
        const std::vector<const LoopbackSim*> sims{&failing, &lossy, &newer};
        std::vector<QByteArray> before;
        for (const LoopbackSim* sim : sims) {
            before.push_back(Config(*sim));
        }

        TemplateBatch& batch = RunBatch(kTemplate, sims);
        const std::vector<TemplateEntry>& entries = batch.Entries();
        // The failing device's other parts went through; its zones are its own.
        PartState zonesBefore;
        PartState zonesAfter;
        QString error;
        QVERIFY(ReadPartState(VcaConfigReader(before[0]), TemplatePart::Zones, zonesBefore, error));
        QVERIFY(ReadPartState(VcaConfigReader(Config(failing)), TemplatePart::Zones, zonesAfter, error));
        QVERIFY(SamePartState(zonesBefore, zonesAfter));
        for (size_t i = 1; i < sims.size(); ++i) {
            QCOMPARE(Config(*sims[i]), before[i]);
        }
        for (const TemplateEntry& entry : entries) {
            QVERIFY(!entry.Matches());
        }
        QVERIFY(entries[0].sent);
        QVERIFY2(batch.ResultLines(0).first().startsWith(QStringLiteral(
                     "127.0.0.1 zones: failed: at zone 3 'Hof': the device's zones were put back "
                     "as they were (checked). Cause: HTTP request failed: ")),
                 qPrintable(batch.ResultLines(0).first()));
        QVERIFY(!entries[1].sent && !entries[2].sent);
        QCOMPARE(
            batch.ResultLines(1).mid(0, 2),
            (QStringList{QStringLiteral("127.0.0.1 zones: not sent: the device's zones cannot be replaced "
                                        "without loss: zone 5 'Exit' has settings the add request cannot "
                                        "carry (type NONDETECTION)"),
                         QStringLiteral("127.0.0.1 classifier and timeout: not sent: nothing is sent to "
                                        "this device, as its zones cannot be written")}));
        QCOMPARE(batch.ResultLines(2).first(),
                 QStringLiteral("127.0.0.1 zones: cannot be compared: the device holds settings this version "
                                "does not know"));
    }

    // A template this version cannot write whole is refused before anything
    // is sent, whatever the device holds.
    void unwritableTemplatesAreRefused()
    {
        LoopbackSim plain;
        QVERIFY(plain.IsReady());
        const QByteArray before = Config(plain);
        const QByteArray zone =
            "  zones { id: 3 points { x: 1 y: 2 } points { x: 60000 y: 2 } points { x: 1 y: 50000 }\n"
            "          enable: false name: \"Hof\" style: POLYGON }\n";
        const std::pair<QByteArray, QString> cases[] = {
            {"  zones { id: 4 enable: true name: \"Empty\" style: POLYGON }\n",
             QStringLiteral("zone 4 'Empty' has no points")},
            {QByteArray(zone).replace("style: POLYGON", "style: LINE"),
             QStringLiteral("zone 3 'Hof' has settings the add request cannot carry (style LINE)")},
            {QByteArray(zone).replace("style: POLYGON", "style: POLYGON dwell { seconds: 5 }"),
             QStringLiteral("the template holds settings this version does not know (it was made by a newer "
                            "version)")},
        };
        for (const auto& [zones, reason] : cases) {
            const QByteArray text = QByteArray(kTemplate).replace(zone, zones);
            QVERIFY(text != kTemplate);
            TemplateBatch& batch = RunBatch(text, {&plain});
            QVERIFY(!batch.Entries().at(0).sent);
            QCOMPARE(batch.ResultLines(0).first(), QStringLiteral("127.0.0.1 zones: not sent: ") + reason);
            QCOMPARE(Config(plain), before);
        }
    }

    // Another client changes the device's zones after the apply read them:
    // they are not written over, and the part says so.
    void changeByAnotherClientIsNotWrittenOver()
    {
        LoopbackSim device;
        QVERIFY(device.IsReady());
        const QString host = QStringLiteral("127.0.0.1:%1").arg(device.HttpPort());
        std::unique_ptr<VcaConfigReader> tmpl;
        QString error;
        QVERIFY(ReadConfigTemplate(kTemplate, tmpl, error));
        TemplateApply apply(*tmpl, TemplatePartChoice{}, host, nullptr);
        InterruptedRequests requests(host, [&host] {
            BlockingRequests other(host);
            QByteArray body;
            QString failure;
            QVERIFY(
                other.Get(QStringLiteral("/qel-cgi/admin/vca.cgi?action=add&group=VCA.Ch0&object=zone&id=9&"
                                         "enable=yes&name=Other&points=1:1,900:1,900:900,"),
                          body, failure));
        });
        apply.Run(requests);
        const TemplatePartResult& zones = apply.Results().front();
        QCOMPARE(zones.StatusText(), QStringLiteral("changed by another client since it was read"));
        QCOMPARE(zones.reason, QStringLiteral("zone 9 'Other' added"));
        QVERIFY(!zones.sent);
        ZonesMap held;
        QVERIFY(VcaConfigReader(Config(device)).ReadZones(held, error));
        QCOMPARE(held.size(), size_t{2});
    }

private:
    // Lets another client act between the tool's first and second request.
    class InterruptedRequests final : public DeviceRequests {
    public:
        InterruptedRequests(const QString& host, std::function<void()> between)
            : inner_(host), between_(std::move(between))
        {
        }
        bool Get(const QString& path, QByteArray& body, QString& error) override
        {
            if (count_++ == 1) {
                between_();
            }
            return inner_.Get(path, body, error);
        }
        void Wait(int ms) override { inner_.Wait(ms); }

    private:
        BlockingRequests inner_;
        std::function<void()> between_;
        int count_ = 0;
    };

    // The devices' configuration as getconfig answers it now.
    static QByteArray Config(const LoopbackSim& sim)
    {
        HttpClientModule module(nullptr);
        QSignalSpy done(&module, &HttpClientModule::Done);
        module.Start(sim.Url("/qel-cgi/admin/getconfig.fcgi"));
        return done.wait(kWaitMs) ? done.at(0).at(0).toByteArray() : QByteArray();
    }

    // The template applied with the default parts to the simulators, in
    // order, until the batch ends.
    TemplateBatch& RunBatch(const QByteArray& text, const std::vector<const LoopbackSim*>& sims)
    {
        std::unique_ptr<VcaConfigReader> reader;
        QString error;
        if (!ReadConfigTemplate(text, reader, error)) {
            qFatal("template not read: %s", qPrintable(error));
        }
        std::vector<DeviceNetworkParams> devices(sims.size());
        QStringList hosts;
        for (size_t i = 0; i < sims.size(); ++i) {
            StringToIpType("127.0.0.1", devices[i].ip);
            hosts << QStringLiteral("127.0.0.1:%1").arg(sims[i]->HttpPort());
        }
        batch_ = std::make_unique<TemplateBatch>(std::shared_ptr<const VcaConfigReader>(std::move(reader)),
                                                 TemplatePartChoice{}, devices, nullptr);
        batch_->SetHosts(hosts);
        QSignalSpy finished(batch_.get(), &TemplateBatch::Finished);
        batch_->Start();
        if (!finished.wait(kWaitMs)) {
            qFatal("the batch did not end");
        }
        return *batch_;
    }

    std::unique_ptr<TemplateBatch> batch_;
};

QTEST_GUILESS_MAIN(TemplateBatchTest)
#include "TemplateBatchTest.moc"
