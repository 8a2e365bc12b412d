#include "LanSim.h"

#include <QByteArray>
#include <QtGlobal>

namespace {

constexpr int kStartTimeoutMs = 10000;

} // namespace

bool LanSim::Available()
{
    return !qEnvironmentVariableIsEmpty("QEL_SIM") && !qEnvironmentVariableIsEmpty("QEL_SOURCE_DIR");
}

LanSim::LanSim(const QString& deviceNamespace, const QStringList& arguments)
{
    const QString script = qEnvironmentVariable("QEL_SOURCE_DIR") + QStringLiteral("/scripts/virtual-lan");
    // A simulator left behind by a crashed test must not outlive the run.
    // Discovery needs the UDP part only; web and video servers stay off.
    QStringList all{QStringLiteral("exec"),
                    deviceNamespace,
                    qEnvironmentVariable("QEL_SIM"),
                    QStringLiteral("--run-seconds"),
                    QStringLiteral("120"),
                    QStringLiteral("--only"),
                    QStringLiteral("udp")};
    all += arguments;
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process_.start(script, all);
    if (!process_.waitForStarted(kStartTimeoutMs)) {
        return;
    }
    QByteArray output;
    while (!output.contains("ready") && process_.waitForReadyRead(kStartTimeoutMs)) {
        output += process_.readAllStandardOutput();
    }
    output_ = QString::fromUtf8(output);
    ready_ = output.contains("ready");
}

LanSim::~LanSim()
{
    if (process_.state() == QProcess::NotRunning) {
        return;
    }
    process_.terminate();
    if (!process_.waitForFinished(3000)) {
        process_.kill();
        process_.waitForFinished(3000);
    }
}
