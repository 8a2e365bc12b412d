#include "SimDevice.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QtGlobal>

#include <algorithm>

namespace {

constexpr int kStartTimeoutMs = 15000;
constexpr int kStopTimeoutMs = 3000;
// Longer than any test case; a simulator left by a crashed test ends itself.
const char kRunSeconds[] = "180";
const char kReady[] = "qel-device-sim: ready";

QString SimulatorPath()
{
    return qEnvironmentVariableIsEmpty("QEL_SIM") ? QStringLiteral(QEL_SIM_PATH)
                                                  : qEnvironmentVariable("QEL_SIM");
}

} // namespace

bool SimDevice::Available()
{
    return !qEnvironmentVariableIsEmpty("QEL_SIM") && !qEnvironmentVariableIsEmpty("QEL_SOURCE_DIR");
}

QStringList SimDevice::OnAddress(const QString& address)
{
    return {QStringLiteral("--ip"),        address, QStringLiteral("--http-bind"), address,
            QStringLiteral("--rtsp-bind"), address};
}

SimDevice::SimDevice(const QString& deviceNamespace, const QStringList& arguments, const QString& parts)
{
    // setpriv makes the simulator get SIGTERM when this process dies; the
    // script and "ip netns exec" exec in turn, so it stays our child.
    QStringList command{QStringLiteral("setpriv"),       QStringLiteral("--pdeathsig"),
                        QStringLiteral("TERM"),          SimulatorPath(),
                        QStringLiteral("--run-seconds"), QString::fromLatin1(kRunSeconds)};
    if (!parts.isEmpty()) {
        command += {QStringLiteral("--only"), parts};
    }
    command += arguments;
    if (deviceNamespace.isEmpty()) {
        process_.setProgram(command.takeFirst());
        process_.setArguments(command);
    } else {
        process_.setProgram(qEnvironmentVariable("QEL_SOURCE_DIR") + QStringLiteral("/scripts/virtual-lan"));
        process_.setArguments(QStringList{QStringLiteral("exec"), deviceNamespace} + command);
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

bool SimDevice::WaitForOutput(const QString& text, int timeoutMs)
{
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        output_ += QString::fromUtf8(process_.readAllStandardOutput());
        const qint64 left = timeoutMs - waited.elapsed();
        if (output_.contains(text) || left <= 0 || process_.state() == QProcess::NotRunning) {
            return output_.contains(text);
        }
        process_.waitForReadyRead(static_cast<int>(std::min<qint64>(left, 100)));
    }
}

void SimDevice::Kill()
{
    if (process_.state() != QProcess::NotRunning) {
        process_.kill();
        process_.waitForFinished(kStopTimeoutMs);
    }
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
