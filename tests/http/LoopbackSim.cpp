#include "LoopbackSim.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QUdpSocket>

namespace {

int FreeUdpPort()
{
    QUdpSocket socket;
    socket.bind(QHostAddress(QHostAddress::LocalHost), 0);
    return socket.localPort();
}

} // namespace

int LoopbackSim::FreeTcpPort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

QStringList LoopbackSim::Arguments(int httpPort, const QStringList& extraArguments)
{
    return QStringList{
               QStringLiteral("--ip"),        QStringLiteral("127.0.0.1"),  QStringLiteral("--udp-bind"),
               QStringLiteral("127.0.0.1"),   QStringLiteral("--udp-port"), QString::number(FreeUdpPort()),
               QStringLiteral("--http-bind"), QStringLiteral("127.0.0.1"),  QStringLiteral("--http-port"),
               QString::number(httpPort),     QStringLiteral("--rtsp-off")} +
           extraArguments;
}

LoopbackSim::LoopbackSim(const QStringList& extraArguments)
    : httpPort_(FreeTcpPort()), sim_(QString(), Arguments(httpPort_, extraArguments))
{
}

LoopbackSim::~LoopbackSim()
{
    sim_.Kill();
}

std::string LoopbackSim::Url(const std::string& path) const
{
    return "http://127.0.0.1:" + std::to_string(httpPort_) + path;
}
