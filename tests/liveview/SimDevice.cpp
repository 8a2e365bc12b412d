#include "SimDevice.h"

#include <QByteArray>
#include <QtGlobal>

namespace {

constexpr int kStartTimeoutMs = 15000;
constexpr int kStopTimeoutMs = 3000;
// Longer than any test case; a simulator left by a crashed test ends itself.
const char kRunSeconds[] = "180";
const char kReady[] = "qel-device-sim: ready";

} // namespace

SimDevice::SimDevice(const QString& deviceNamespace, const QString& address, const QStringList& arguments)
{
    const QString sim = qEnvironmentVariable("QEL_SIM");
    QStringList simArguments{QStringLiteral("--only"), QStringLiteral("http,rtsp"),
                             QStringLiteral("--run-seconds"), QString::fromLatin1(kRunSeconds)};
    if (deviceNamespace.isEmpty()) {
        simArguments += {QStringLiteral("--ip"),        address, QStringLiteral("--http-bind"), address,
                         QStringLiteral("--rtsp-bind"), address};
        simArguments += arguments;
        process_.setProgram(sim);
        process_.setArguments(simArguments);
    } else {
        process_.setProgram(qEnvironmentVariable("QEL_SOURCE_DIR") + QStringLiteral("/scripts/virtual-lan"));
        process_.setArguments(QStringList{QStringLiteral("exec"), deviceNamespace, sim} + simArguments +
                              arguments);
    }
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process_.start();
    if (!process_.waitForStarted(kStartTimeoutMs)) {
        output_ = process_.errorString();
        return;
    }
    QByteArray output;
    while (!output.contains(kReady) && process_.waitForReadyRead(kStartTimeoutMs)) {
        output += process_.readAllStandardOutput();
    }
    output_ = QString::fromUtf8(output);
    ready_ = output.contains(kReady);
}

SimDevice::~SimDevice()
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
