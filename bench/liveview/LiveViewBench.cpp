// The live view as the user sees it: the real settings dialog connected to a
// simulated device (on a loopback address of this machine) that serves a
// camera-like clip at 25 pictures/s. For each picture size it prints the
// pictures painted per second in the Zones view, the GUI thread's largest
// lateness (a 10 ms timer's worst delay), the growth of resident memory over
// the measured time, how long Disconnect takes until Connect is back, and the
// load average at the end of the clip (the machine may be shared).
// The decode ratio against ffmpeg comes from qel_decode_bench.
//
// Needs root (the simulated device serves ports 80 and 554).
// Usage: qel_liveview_bench [SECONDS per clip, default 60] [SIZE ...]

#include "ui_SettingsDialog.h"

#include "CameraClips.h"
#include "DeviceNetworkParams.h"
#include "MessageBoxWatcher.h"
#include "SettingsDialog.h"
#include "SimDevice.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <QtTest>

#include <easylogging++.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

const char kDeviceIp[] = "127.0.0.89";
constexpr int kTickMs = 10;

std::string LoadAverage()
{
    std::ifstream load("/proc/loadavg");
    std::string text;
    std::getline(load, text);
    return text;
}

double ResidentMegabytes()
{
    std::ifstream statm("/proc/self/statm");
    long pages = 0;
    long resident = 0;
    statm >> pages >> resident;
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / 1048576.0;
}

// Counts the paint events of one widget.
class PaintCounter final : public QObject {
public:
    int paints = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint) {
            ++paints;
        }
        return QObject::eventFilter(watched, event);
    }
};

struct Figures {
    double picturesPerSecond = 0.0;
    qint64 worstLatenessMs = 0;
    double residentGrowthMb = 0.0;
    qint64 disconnectMs = -1;
    bool ok = false;
};

Figures Measure(const CameraClip& clip, int seconds)
{
    Figures figures;
    SimDevice device(
        QString(),
        SimDevice::OnAddress(QString::fromLatin1(kDeviceIp)) +
            QStringList{QStringLiteral("--rtsp-clip"), QString::fromStdString(CameraClipPath(clip))},
        QStringLiteral("http,rtsp"));
    if (!device.IsReady()) {
        std::fprintf(stderr, "simulator: %s\n", qPrintable(device.Output()));
        return figures;
    }
    MessageBoxWatcher boxes;
    DeviceNetworkParams params;
    StringToIpType(kDeviceIp, params.ip);
    SettingsDialog dialog(params, nullptr);
    dialog.show();
    Ui::SettingsDialog* form = dialog.Form();
    // The Source page's load is answered first, so the Zones page's own load follows at once.
    if (!QTest::qWaitFor([form] { return form->pushButtonApply3->isEnabled(); }, 8000)) {
        std::fprintf(stderr, "%s: the device's web interface did not answer\n", clip.size);
        return figures;
    }
    form->tabWidget->setCurrentWidget(form->tabZones);
    PaintCounter counter;
    form->videoWidget1->installEventFilter(&counter);

    QElapsedTimer clock;
    clock.start();
    qint64 lastTick = 0;
    qint64 worst = 0;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        worst = std::max(worst, now - lastTick - kTickMs);
        lastTick = now;
    });
    ticker.start(kTickMs);

    QTest::mouseClick(form->pushButtonConnect1, Qt::LeftButton);
    if (!QTest::qWaitFor([&counter] { return counter.paints > 25; }, 30000)) {
        std::fprintf(stderr, "%s: no pictures (%s)\n", clip.size,
                     qPrintable(boxes.Texts().join(QLatin1Char(' '))));
        return figures;
    }
    QTest::qWait(2000); // past the start
    const double residentBefore = ResidentMegabytes();
    counter.paints = 0;
    worst = 0;
    QElapsedTimer measured;
    measured.start();
    QTest::qWait(seconds * 1000);
    figures.picturesPerSecond = counter.paints * 1000.0 / static_cast<double>(measured.elapsed());
    figures.worstLatenessMs = worst;
    figures.residentGrowthMb = ResidentMegabytes() - residentBefore;

    QElapsedTimer stopping;
    stopping.start();
    QTest::mouseClick(form->pushButtonDisconnect1, Qt::LeftButton);
    if (QTest::qWaitFor([form] { return form->pushButtonConnect1->isEnabled(); }, 10000)) {
        figures.disconnectMs = stopping.elapsed();
    }
    figures.ok = boxes.Texts().isEmpty();
    return figures;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    qputenv("QEL_SIM", QEL_LIVEVIEW_BENCH_SIM);
    qputenv("QEL_SOURCE_DIR", QEL_LIVEVIEW_BENCH_SOURCE_DIR);
    QApplication app(argc, argv);
    el::Configurations quiet;
    quiet.setToDefault();
    quiet.setGlobally(el::ConfigurationType::ToStandardOutput, "false");
    quiet.setGlobally(el::ConfigurationType::ToFile, "false");
    el::Loggers::reconfigureAllLoggers(quiet);
    if (geteuid() != 0) {
        std::fprintf(stderr, "needs root: the simulated device serves ports 80 and 554 of %s\n", kDeviceIp);
        return 1;
    }
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 60;
    QStringList sizes;
    for (int i = 2; i < argc; ++i) {
        sizes << QString::fromLocal8Bit(argv[i]);
    }

    std::printf("Live view through the dialog, %d s per clip, 25 pictures/s served; load average %s\n",
                seconds, LoadAverage().c_str());
    std::printf("%-10s %14s %16s %18s %15s   %s\n", "size", "painted/s", "GUI late max", "memory growth",
                "Disconnect", "load average");
    int status = 0;
    for (const CameraClip& clip : kCameraClips) {
        if (!sizes.isEmpty() && !sizes.contains(QString::fromLatin1(clip.size))) {
            continue;
        }
        if (!MakeCameraClip(clip)) {
            std::fprintf(stderr, "cannot make %s (is the ffmpeg command-line tool installed?)\n",
                         CameraClipPath(clip).c_str());
            return 1;
        }
        const Figures figures = Measure(clip, seconds);
        if (!figures.ok) {
            status = 1;
        }
        std::printf("%-10s %14.1f %13lld ms %15.1f MB %12lld ms   %s%s\n", clip.size,
                    figures.picturesPerSecond, static_cast<long long>(figures.worstLatenessMs),
                    figures.residentGrowthMb, static_cast<long long>(figures.disconnectMs),
                    LoadAverage().c_str(), figures.ok ? "" : "  (failed)");
        std::fflush(stdout);
    }
    return status;
}
