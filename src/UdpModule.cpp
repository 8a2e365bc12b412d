#include "UdpModule.h"

#include "AssignmentVerifier.h"
#include "StringUtils.h"

#include <QByteArray>
#include <QHostAddress>
#include <QTimer>
#include <QtGlobal>

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <easylogging++.h>

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

static const AssignmentVerifier vf;

namespace {

// Bytes of a received datagram written to the log; the rest is left out.
constexpr size_t kLoggedBytes = 1500;

// Every device on the LAN answers a search at about the same moment. The
// kernel caps the buffer at net.core.rmem_max (about 200 KiB on a stock
// system, some 500 small replies); the receive thread drains it while the
// replies come, so that a burst of a thousand still fits, and where the cap
// allows more, 4 MiB holds thousands.
constexpr int kReceiveBufferBytes = 4 * 1024 * 1024;
// Overrides the receive buffer asked for, so that tests and benchmarks can
// see how the stock cap behaves on a machine that allows more.
const char kReceiveBufferVariable[] = "QEL_UDP_RECEIVE_BUFFER_BYTES";

int ReceiveBufferBytes()
{
    bool ok = false;
    const int bytes = qEnvironmentVariableIntValue(kReceiveBufferVariable, &ok);
    return ok && bytes > 0 ? bytes : kReceiveBufferBytes;
}

QString ErrorText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

std::string InterfaceName(int index)
{
    char name[IF_NAMESIZE] = {};
    return if_indextoname(static_cast<unsigned>(index), name) != nullptr ? std::string(name)
                                                                         : "#" + std::to_string(index);
}

struct InterfaceAddress {
    int index = 0;
    in_addr_t address = 0; // network byte order
};

// The IPv4 addresses of the interfaces a broadcast can leave through: up,
// not loopback, able to broadcast.
std::vector<InterfaceAddress> BroadcastInterfaces()
{
    std::vector<InterfaceAddress> found;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) {
        LOG(ERROR) << "Cannot list the network interfaces: " << std::strerror(errno);
        return found;
    }
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        const unsigned flags = entry->ifa_flags;
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET || (flags & IFF_UP) == 0 ||
            (flags & IFF_LOOPBACK) != 0 || (flags & IFF_BROADCAST) == 0) {
            continue;
        }
        // An address label ("eth0:1") names its interface before the colon.
        std::string name = entry->ifa_name;
        name = name.substr(0, name.find(':'));
        const int index = static_cast<int>(if_nametoindex(name.c_str()));
        if (index != 0) {
            found.push_back({index, reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr.s_addr});
        }
    }
    freeifaddrs(list);
    return found;
}

std::vector<int> InterfaceIndexes(const std::vector<InterfaceAddress>& interfaces)
{
    std::vector<int> indexes;
    for (const InterfaceAddress& i : interfaces) {
        if (std::find(indexes.begin(), indexes.end(), i.index) == indexes.end()) {
            indexes.push_back(i.index);
        }
    }
    return indexes;
}

// A non-blocking UDP socket on `address` (network byte order) and the reply
// port, shared with the run's other sockets; -1 with errno set when it
// cannot be had.
int ReplySocket(in_addr_t address)
{
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    // Tells for each reply the interface it came in on.
    setsockopt(fd, IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(UdpModuleWithTimer::kListenPort);
    local.sin_addr.s_addr = address;
    if (bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        const int error = errno;
        close(fd);
        errno = error;
        return -1;
    }
    const int receiveBuffer = ReceiveBufferBytes();
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    return fd;
}

// Whether some other socket, of this program or another, listens on the
// reply port. Sockets that share a port all hear broadcasts, but a datagram
// sent to this workstation's address reaches only the one bound last: a
// second copy of the tool would take the replies meant for the first. A
// socket that does not share the port cannot be bound while any other holds
// it, so a bind of one tells. 0 when the port is free, otherwise the errno.
int ReplyPortHeld()
{
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return errno;
    }
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(UdpModuleWithTimer::kListenPort);
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    const int result = bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0 ? 0 : errno;
    close(fd);
    return result;
}

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
    receiver_.reset();
    CloseSockets();
    delete timer_;
}

void UdpModuleWithTimer::SetListenTimeMs(int listenTimeMs)
{
    timer_->setInterval(listenTimeMs);
}

void UdpModuleWithTimer::Start()
{
    assert(!IsRunning());
    run_ = ++lastRun_;
    listenError_.clear();
    sendError_.clear();
    timer_->start();

    const int held = ReplyPortHeld();
    if (held == EADDRINUSE) {
        listenError_ = tr("another program is using it, perhaps a second copy of this tool");
    } else {
        socket_ = ReplySocket(htonl(INADDR_ANY));
        if (socket_ < 0) {
            listenError_ = ErrorText(errno);
        }
    }
    if (socket_ < 0) {
        // Nothing is sent in this run: the replies would go to whoever holds
        // the port.
        LOG(ERROR) << "Cannot listen on UDP port " << kListenPort << ": " << listenError_.toStdString();
        return;
    }
    // Replies to a request come back to the address it was sent from. A
    // socket of their own per interface address gives each network its own
    // receive buffer, so a burst on one cannot crowd out another; the socket
    // on the any-address takes the rest (broadcast replies among them).
    std::vector<int> sockets{socket_};
    for (const InterfaceAddress& i : BroadcastInterfaces()) {
        const int fd = ReplySocket(i.address);
        if (fd < 0) {
            VLOG(1) << "No reply socket of its own on " << InterfaceName(i.index) << ": "
                    << std::strerror(errno);
            continue;
        }
        interfaceSockets_.push_back(fd);
        sockets.push_back(fd);
    }

    const quint64 run = run_;
    std::shared_ptr<std::atomic<size_t>> backlog = backlogBytes_;
    receiver_ = std::make_unique<UdpReceiveThread>(
        sockets, backlog, [this, run, backlog](DatagramBatch&& batch, size_t weight) {
            // Runs on the receive thread; the batch is delivered in the GUI
            // thread, and dropped with the module if it is gone by then.
            QMetaObject::invokeMethod(
                this,
                [this, run, backlog, weight, batch = std::move(batch)] {
                    backlog->fetch_sub(weight);
                    if (receiver_) {
                        receiver_->BacklogDrained();
                    }
                    Deliver(run, batch);
                },
                Qt::QueuedConnection);
        });
    if (!receiver_->IsRunning()) {
        listenError_ = tr("cannot start the receive thread");
    }
}

void UdpModuleWithTimer::Stop()
{
    if (!IsRunning()) {
        return;
    }
    run_ = 0;
    // Joined before the socket closes; batches it already handed on belong
    // to the ended run and are dropped when they arrive.
    receiver_.reset();
    CloseSockets();
    emit Stopped();
}

void UdpModuleWithTimer::CloseSockets()
{
    for (const int fd : interfaceSockets_) {
        close(fd);
    }
    interfaceSockets_.clear();
    if (socket_ >= 0) {
        close(socket_);
        socket_ = -1;
    }
}

void UdpModuleWithTimer::Deliver(quint64 run, const DatagramBatch& batch)
{
    if (run != run_) {
        return;
    }
    for (const ReceivedDatagram& datagram : batch) {
        VLOG(1) << "One more datagram received from "
                << QHostAddress(datagram.senderAddress).toString().toStdString() << ":" << datagram.senderPort
                << ", " << datagram.bytes.size() << " bytes: "
                << utils::GetPrintedBufferInHex(datagram.bytes.constData(),
                                                static_cast<size_t>(datagram.bytes.size()), kLoggedBytes,
                                                " ");
        VLOG(1) << "The datagram came in on " << InterfaceName(datagram.interfaceIndex);
    }
    emit DatagramsReceived(batch);
    for (const ReceivedDatagram& datagram : batch) {
        // A receiver may stop the run (and even start the next one); the
        // rest of the batch belongs to the ended run.
        if (run != run_) {
            return;
        }
        emit DatagramReceived(datagram.bytes);
    }
}

void UdpModuleWithTimer::SendBroadcast(const QByteArray& datagram, int interfaceIndex)
{
    SendBroadcast(datagram,
                  utils::GetPrintedBufferInHex(datagram.constData(), static_cast<size_t>(datagram.size()),
                                               static_cast<size_t>(datagram.size()), " "),
                  interfaceIndex);
}

void UdpModuleWithTimer::SendBroadcast(const QByteArray& datagram, const std::string& loggedForm,
                                       int interfaceIndex)
{
    assert(IsRunning());
    VLOG(1) << "Attempting to send datagram (" << datagram.size() << " bytes): " << loggedForm << "...";
    if (socket_ < 0) {
        sendError_ = listenError_;
        VLOG(1) << "datagram is not sent: cannot listen for its replies";
        return;
    }
    std::vector<int> targets = InterfaceIndexes(BroadcastInterfaces());
    if (interfaceIndex != kAllInterfaces &&
        std::find(targets.begin(), targets.end(), interfaceIndex) != targets.end()) {
        targets = {interfaceIndex};
    }
    if (targets.empty()) {
        // No interface to choose: the routing table decides, and says so
        // when nothing can be reached.
        targets.push_back(kAllInterfaces);
    }
    // Every device answers at once: the receive thread is to be reading
    // before the first reply arrives, not woken by it.
    if (receiver_) {
        receiver_->BurstBegins();
    }
    int sent = 0;
    QString error;
    for (const int target : targets) {
        QString sendError;
        if (SendOn(target, datagram, sendError)) {
            ++sent;
            VLOG(1) << "datagram is sent";
            if (target != kAllInterfaces) {
                VLOG(1) << "The datagram went out on " << InterfaceName(target);
            }
            continue;
        }
        LOG(ERROR) << "Cannot send datagram to UDP port " << kDevicePort
                   << (target == kAllInterfaces ? std::string() : " on " + InterfaceName(target)) << ": "
                   << sendError.toStdString();
        if (error.isEmpty()) {
            error = sendError;
        }
    }
    if (sent == 0) {
        sendError_ = error;
    }
}

bool UdpModuleWithTimer::SendOn(int interfaceIndex, const QByteArray& datagram, QString& error)
{
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(kDevicePort);
    to.sin_addr.s_addr = htonl(INADDR_BROADCAST);
    iovec vector{const_cast<char*>(datagram.constData()), static_cast<size_t>(datagram.size())};
    msghdr message{};
    message.msg_name = &to;
    message.msg_namelen = sizeof to;
    message.msg_iov = &vector;
    message.msg_iovlen = 1;
    // The outgoing interface of a limited broadcast is chosen per send; the
    // kernel takes that interface's address as the source.
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
    if (interfaceIndex != kAllInterfaces) {
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        cmsghdr* header = CMSG_FIRSTHDR(&message);
        header->cmsg_level = IPPROTO_IP;
        header->cmsg_type = IP_PKTINFO;
        header->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
        in_pktinfo info{};
        info.ipi_ifindex = interfaceIndex;
        std::memcpy(CMSG_DATA(header), &info, sizeof info);
    }
    if (sendmsg(socket_, &message, MSG_NOSIGNAL) < 0) {
        error = ErrorText(errno);
        return false;
    }
    return true;
}
