// The template batch against simulated devices on loopback: a device that
// already holds the template is sent nothing, a cancel lets the device at
// work finish and names the devices that were changed.
#include "TemplateBatch.h"

#include "ConfigTemplate.h"
#include "LoopbackSim.h"
#include "TestHelpers.h"
#include "VcaConfigReader.h"

#include <QTemporaryDir>
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
};

QTEST_GUILESS_MAIN(TemplateBatchTest)
#include "TemplateBatchTest.moc"
