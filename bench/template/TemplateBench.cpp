// A configuration template applied to 50 simulated devices, one after
// another through the template batch: each device's configuration read,
// zones, classifier and encoder sent, the configuration read back and
// judged. Reports the time per device, with one plain configuration read
// per device as the reference, in one run. The goal: under 0.5 s per
// device. Runs inside the workstation namespace of the virtual LAN (root):
//   scripts/virtual-lan up 1
//   scripts/virtual-lan exec ws build/bench/template/qel_template_bench
#include "BenchLan.h"
#include "ConfigTemplate.h"
#include "DeviceWebLogin.h"
#include "HttpClientModule.h"
#include "LogSetup.h"
#include "SimDevice.h"
#include "TemplateBatch.h"
#include "VcaConfigReader.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <memory>

namespace {

constexpr int kDevices = 50;
const char kAddress[] = "10.77.0.11";
constexpr int kFirstPort = 8100;
// Far above what 50 devices take; bounds a broken run.
constexpr int kBatchBoundMs = 120000;

const char kTemplate[] =
    "# QEL IP Tool template\n"
    "Ch {\n"
    "  zones { id: 1 points { x: 0 y: 0 } points { x: 30000 y: 0 } points { x: 30000 y: 30000 } "
    "points { x: 0 y: 30000 } enable: true name: \"Gate\" style: POLYGON }\n"
    "  zones { id: 2 points { x: 35000 y: 0 } points { x: 65535 y: 0 } points { x: 65535 y: 30000 } "
    "enable: true name: \"Road\" style: POLYGON }\n"
    "  zones { id: 3 points { x: 0 y: 35000 } points { x: 30000 y: 65535 } points { x: 0 y: 65535 } "
    "enable: false name: \"Yard\" style: POLYGON }\n"
    "  zones { id: 4 points { x: 40000 y: 40000 } points { x: 60000 y: 40000 } points { x: 60000 y: 60000 } "
    "points { x: 40000 y: 60000 } enable: true name: \"Door\" style: POLYGON }\n"
    "  campos { FOV: 30 camangle: 20 height: 5.5 }\n"
    "  timeout: 42\n"
    "  objectClasses { minArea: 0.5 maxArea: 2.25 minHeight: 1 maxHeight: 2 }\n"
    "  objectClasses { minArea: 4 maxArea: 9 minHeight: 1 maxHeight: 3 }\n"
    "  encoder { fps: 15 bitrate: 1000000 }\n"
    "}\n";

QString Host(int device)
{
    return QStringLiteral("%1:%2").arg(QLatin1String(kAddress)).arg(kFirstPort + device);
}

// One request per device, one after another, as the batch sends them: the
// configuration read, or a write behind the device's authentication.
qint64 RequestEach(const QString& path, bool write, int& ok)
{
    HttpClientModule client(nullptr);
    if (write) {
        client.SetCredentials(QString::fromLatin1(kDeviceWebUser), QString::fromLatin1(kDeviceWebPassword));
    }
    QEventLoop loop;
    ok = 0;
    QObject::connect(&client, &HttpClientModule::Done, [&](const QByteArray& body) {
        ok += write || VcaConfigReader(body).IsWhole() ? 1 : 0;
        loop.quit();
    });
    QObject::connect(&client, &HttpClientModule::Failed, &loop, &QEventLoop::quit);
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < kDevices; ++i) {
        client.Start(QStringLiteral("http://%1%2").arg(Host(i), path).toStdString());
        loop.exec(); // the client's own time limit ends every request
    }
    return clock.elapsed();
}

} // namespace

int main(int argc, char* argv[])
{
    UseThisBuildsSimulator();
    QCoreApplication app(argc, argv);
    // The change records go to the log file, as from the tool.
    ConfigureLogging();
    if (!OnVirtualLanWorkstation("template")) {
        return 77;
    }
    SimDevice sim(QStringLiteral("dev1"),
                  {QStringLiteral("--count"), QString::number(kDevices), QStringLiteral("--mac"),
                   QStringLiteral("02:BE:00:00:00:00"), QStringLiteral("--http-bind"),
                   QString::fromLatin1(kAddress), QStringLiteral("--http-port"), QString::number(kFirstPort)},
                  QStringLiteral("http"));
    if (!SimulatorStarted(sim, "template")) {
        return 77;
    }

    int read = 0;
    const qint64 readMs = RequestEach(QStringLiteral("/qel-cgi/admin/getconfig.fcgi"), false, read);
    std::printf("template: %d simulated devices in one process; reference: one configuration read per "
                "device, %d read whole in %lld ms (%.1f ms per device)\n",
                kDevices, read, static_cast<long long>(readMs), static_cast<double>(readMs) / kDevices);
    int written = 0;
    const qint64 writeMs =
        RequestEach(QStringLiteral("/qel-cgi/admin/setzonetimeout.fcgi?timeout=60"), true, written);
    std::printf("template: reference: one authenticated write per device, %d taken in %lld ms (%.1f ms per "
                "device)\n",
                written, static_cast<long long>(writeMs), static_cast<double>(writeMs) / kDevices);

    std::unique_ptr<VcaConfigReader> reader;
    QString error;
    if (!ReadConfigTemplate(QByteArray(kTemplate), reader, error)) {
        std::printf("template: %s\n", qPrintable(error));
        return 1;
    }
    std::vector<DeviceNetworkParams> devices(kDevices);
    QStringList hosts;
    for (int i = 0; i < kDevices; ++i) {
        StringToIpType(kAddress, devices[static_cast<size_t>(i)].ip);
        hosts << Host(i);
    }
    TemplateBatch batch(std::shared_ptr<const VcaConfigReader>(std::move(reader)), TemplatePartChoice(),
                        devices, nullptr);
    batch.SetHosts(hosts);
    QEventLoop loop;
    QObject::connect(&batch, &TemplateBatch::Finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(kBatchBoundMs, &batch, [&batch] { batch.Cancel(); });
    QElapsedTimer clock;
    clock.start();
    batch.Start();
    if (!batch.IsFinished()) {
        loop.exec();
    }
    const qint64 applyMs = clock.elapsed();
    const double perDeviceMs = static_cast<double>(applyMs) / kDevices;
    std::printf("template: %s\n", qPrintable(batch.Summary()));
    std::printf("template: applied (zones, classifier and timeout, encoder: 10 requests and 2 reads per "
                "device) in %lld ms, %.1f ms per device\n",
                static_cast<long long>(applyMs), perDeviceMs);
    std::printf("template: goal under 500 ms per device: %s\n", perDeviceMs < 500 ? "met" : "missed");
    const bool allMatch = std::all_of(batch.Entries().begin(), batch.Entries().end(),
                                      [](const TemplateEntry& entry) { return entry.Matches(); });
    return allMatch ? 0 : 1;
}
