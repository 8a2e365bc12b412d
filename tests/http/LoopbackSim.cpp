#include "SimProcess.h"

#include <QTcpServer>
#include <QUdpSocket>

namespace {

constexpr int kStartTimeoutMs = 10000;

int FreeUdpPort()
{
    QUdpSocket socket;
    socket.bind(QHostAddress(QHostAddress::LocalHost), 0);
    return socket.localPort();
}

}  // namespace

int SimProcess::FreeTcpPort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

SimProcess::SimProcess(const QStringList& extraArguments)
    : httpPort_(FreeTcpPort())
{
    QStringList arguments{QStringLiteral("--ip"), QStringLiteral("127.0.0.1"),
                          QStringLiteral("--udp-bind"), QStringLiteral("127.0.0.1"),
                          QStringLiteral("--udp-port"), QString::number(FreeUdpPort()),
                          QStringLiteral("--http-bind"), QStringLiteral("127.0.0.1"),
                          QStringLiteral("--http-port"), QString::number(httpPort_),
                          QStringLiteral("--rtsp-off"),
                          QStringLiteral("--run-seconds"), QStringLiteral("120")};
    arguments += extraArguments;
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process_.start(QStringLiteral(QEL_SIM_PATH), arguments);
    if (!process_.waitForStarted(kStartTimeoutMs)) {
        return;
    }
    QByteArray output;
    while (!output.contains("ready") && process_.waitForReadyRead(kStartTimeoutMs)) {
        output += process_.readAllStandardOutput();
    }
    ready_ = output.contains("ready");
}

SimProcess::~SimProcess()
{
    // The simulator keeps nothing worth an orderly stop, and an orderly stop
    // waits for idle kept-alive connections to time out.
    if (process_.state() != QProcess::NotRunning) {
        process_.kill();
        process_.waitForFinished(5000);
    }
}

std::string SimProcess::Url(const std::string& path) const
{
    return "http://127.0.0.1:" + std::to_string(httpPort_) + path;
}
