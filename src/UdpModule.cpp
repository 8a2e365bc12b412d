#include "UdpModule.h"

#include "AssignmentVerifier.h"
#include "StringUtils.h"

#include <QByteArray>
#include <QHostAddress>
#include <QTimer>
#include <QUdpSocket>

#include <easylogging++.h>

#include <cassert>

static const AssignmentVerifier vf;

namespace {

// Bytes of a received datagram written to the log; the rest is left out.
constexpr size_t kLoggedBytes = 1500;

// Every device on the LAN answers a search at about the same moment. The
// kernel's default receive buffer (about 200 KiB, roughly 250 small replies
// once each datagram's bookkeeping is counted) overflows long before a
// thousand replies are read, and the overflow is dropped silently; 4 MiB holds
// a few thousand. The kernel caps it at net.core.rmem_max.
constexpr int kReceiveBufferBytes = 4 * 1024 * 1024;

} // namespace

UdpModuleWithTimer::UdpModuleWithTimer(QObject* parent) : QObject(parent), timer_(new QTimer(this))
{
    timer_->setSingleShot(true);
    timer_->setInterval(kListenTimeMs);
    vf = connect(timer_, SIGNAL(timeout()), this, SLOT(Stop()));
}

UdpModuleWithTimer::~UdpModuleWithTimer()
{
    VLOG(1) << "Destructing...";
    delete mainSocket_;
    delete timer_;
}

void UdpModuleWithTimer::Start()
{
    assert(mainSocket_ == nullptr);
    mainSocket_ = new QUdpSocket(this);
    listenError_.clear();
    sendError_.clear();
    if (mainSocket_->bind(QHostAddress::Any, kListenPort, QAbstractSocket::ShareAddress)) {
        mainSocket_->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, kReceiveBufferBytes);
    } else {
        listenError_ = mainSocket_->errorString();
        LOG(ERROR) << "Cannot listen on UDP port " << kListenPort << ": " << listenError_.toStdString();
    }
    vf = connect(mainSocket_, SIGNAL(readyRead()), this, SLOT(OnReadyRead()));
    timer_->start();
}

void UdpModuleWithTimer::Stop()
{
    if (mainSocket_ == nullptr) {
        return;
    }
    QUdpSocket* socket = mainSocket_;
    mainSocket_ = nullptr;
    socket->disconnect();
    socket->abort();
    socket->deleteLater();
    emit Stopped();
}

void UdpModuleWithTimer::SendBroadcast(const QByteArray& datagram)
{
    SendBroadcast(datagram,
                  utils::GetPrintedBufferInHex(datagram.constData(), static_cast<size_t>(datagram.size()),
                                               static_cast<size_t>(datagram.size()), " "));
}

void UdpModuleWithTimer::SendBroadcast(const QByteArray& datagram, const std::string& loggedForm)
{
    assert(mainSocket_ != nullptr);
    VLOG(1) << "Attempting to send datagram (" << datagram.size() << " bytes): " << loggedForm << "...";
    if (mainSocket_->writeDatagram(datagram, QHostAddress::Broadcast, kDevicePort) < 0) {
        sendError_ = mainSocket_->errorString();
        LOG(ERROR) << "Cannot send datagram to UDP port " << kDevicePort << ": " << sendError_.toStdString();
        return;
    }
    VLOG(1) << "datagram is sent";
}

void UdpModuleWithTimer::OnReadyRead()
{
    // A receiver of DatagramReceived may stop the run; the socket is then
    // gone and the datagrams still pending are dropped with it.
    while (mainSocket_ != nullptr && mainSocket_->hasPendingDatagrams()) {
        QByteArray datagram(static_cast<int>(mainSocket_->pendingDatagramSize()), Qt::Uninitialized);
        QHostAddress sender;
        quint16 senderPort = 0;
        const qint64 size = mainSocket_->readDatagram(datagram.data(), datagram.size(), &sender, &senderPort);
        if (size < 0) {
            // Nothing could be read after all (the datagram vanished or an
            // ICMP error was queued): there is no datagram to hand on.
            break;
        }
        datagram.resize(static_cast<int>(size));
        VLOG(1) << "One more datagram received from " << sender.toString().toStdString() << ":" << senderPort
                << ", " << datagram.size() << " bytes: "
                << utils::GetPrintedBufferInHex(datagram.constData(), static_cast<size_t>(datagram.size()),
                                                kLoggedBytes, " ");
        emit DatagramReceived(datagram);
    }
}
