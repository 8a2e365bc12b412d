#include "LanDevice.h"

#include <QByteArray>
#include <QtGlobal>

namespace {

constexpr int kStartTimeoutMs = 10000;
constexpr int kStopTimeoutMs = 3000;
// Longer than any test case; a simulator left by a crashed test ends itself.
const char kRunSeconds[] = "180";

} // namespace

bool LanDevice::Available()
{
    return !qEnvironmentVariableIsEmpty("QEL_SIM") && !qEnvironmentVariableIsEmpty("QEL_SOURCE_DIR");
}

LanDevice::LanDevice(const QString& deviceNamespace, const QStringList& arguments)
{
    const QString script = qEnvironmentVariable("QEL_SOURCE_DIR") + QStringLiteral("/scripts/virtual-lan");
    // The script and "ip netns exec" exec in turn, so the simulator is this
    // process's child: it gets SIGTERM when a crashed test dies, and never
    // answers for the device in a later run.
    QStringList all{QStringLiteral("exec"),          deviceNamespace,
                    QStringLiteral("setpriv"),       QStringLiteral("--pdeathsig"),
                    QStringLiteral("TERM"),          qEnvironmentVariable("QEL_SIM"),
                    QStringLiteral("--run-seconds"), QString::fromLatin1(kRunSeconds)};
    all += arguments;
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process_.start(script, all);
    if (!process_.waitForStarted(kStartTimeoutMs)) {
        return;
    }
    QByteArray output;
    while (!output.contains("qel-device-sim: ready") && process_.waitForReadyRead(kStartTimeoutMs)) {
        output += process_.readAllStandardOutput();
    }
    ready_ = output.contains("qel-device-sim: ready");
}

LanDevice::~LanDevice()
{
    if (process_.state() == QProcess::NotRunning) {
        return;
    }
    process_.terminate();
    if (!process_.waitForFinished(kStopTimeoutMs)) {
        process_.kill();
        process_.waitForFinished(kStopTimeoutMs);
    }
}
