#include "UdpReceiveThread.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <easylogging++.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace {

// Datagrams one recvmmsg call can take. Each slot holds the largest UDP
// payload, so nothing is ever cut; the pages of a slot that no datagram
// reaches are never touched.
constexpr unsigned kSlots = 64;
constexpr size_t kSlotBytes = 65536;
// A batch is handed on when the socket has nothing more for now, or when it
// has grown this large, so that the first rows show while a burst goes on.
constexpr int kMaxBatchDatagrams = 1024;
// Above this backlog the thread stops reading until its consumer catches up.
constexpr size_t kMaxBacklogBytes = 32 * 1024 * 1024;
constexpr int kBacklogPollMs = 10;
// Bookkeeping of one datagram beside its payload, counted against the backlog.
constexpr size_t kDatagramOverheadBytes = 96;

int InterfaceOf(const msghdr& message)
{
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr;
         c = CMSG_NXTHDR(const_cast<msghdr*>(&message), c)) {
        if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO &&
            c->cmsg_len >= CMSG_LEN(sizeof(in_pktinfo))) {
            in_pktinfo info{};
            std::memcpy(&info, CMSG_DATA(c), sizeof info);
            return info.ipi_ifindex;
        }
    }
    return 0;
}

} // namespace

UdpReceiveThread::UdpReceiveThread(int socket, std::shared_ptr<std::atomic<size_t>> backlogBytes,
                                   BatchHandler handler)
    : socket_(socket), backlogBytes_(std::move(backlogBytes)), handler_(std::move(handler))
{
    wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd_ < 0) {
        LOG(ERROR) << "Cannot create the receive thread's wake-up: " << std::strerror(errno);
        return;
    }
    thread_ = std::thread(&UdpReceiveThread::Run, this);
}

UdpReceiveThread::~UdpReceiveThread()
{
    if (thread_.joinable()) {
        const uint64_t one = 1;
        if (write(wakeFd_, &one, sizeof one) < 0) {
            LOG(ERROR) << "Cannot wake the receive thread: " << std::strerror(errno);
        }
        thread_.join();
    }
    if (wakeFd_ >= 0) {
        close(wakeFd_);
    }
}

size_t UdpReceiveThread::Weight(size_t datagrams, size_t payloadBytes)
{
    return payloadBytes + datagrams * kDatagramOverheadBytes;
}

bool UdpReceiveThread::WaitReadable(int timeoutMs, bool& readable)
{
    pollfd fds[2] = {{socket_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
    const int ready = poll(fds, 2, timeoutMs);
    if (ready < 0 && errno != EINTR) {
        LOG(ERROR) << "Receive thread: poll failed: " << std::strerror(errno);
        return false;
    }
    if (ready > 0 && ((fds[1].revents & POLLIN) != 0 || (fds[0].revents & POLLNVAL) != 0)) {
        return false;
    }
    readable = ready > 0 && (fds[0].revents & (POLLIN | POLLERR)) != 0;
    return true;
}

void UdpReceiveThread::Run()
{
    std::unique_ptr<char[]> buffers(new char[kSlots * kSlotBytes]);
    std::vector<mmsghdr> messages(kSlots);
    std::vector<iovec> vectors(kSlots);
    std::vector<sockaddr_in> senders(kSlots);
    constexpr size_t kControlBytes = CMSG_SPACE(sizeof(in_pktinfo));
    std::vector<cmsghdr> control(kSlots * ((kControlBytes + sizeof(cmsghdr) - 1) / sizeof(cmsghdr)));
    const size_t controlStride = control.size() / kSlots;

    DatagramBatch batch;
    size_t batchPayload = 0;
    const auto handOn = [&] {
        if (batch.isEmpty()) {
            return;
        }
        const size_t weight = Weight(static_cast<size_t>(batch.size()), batchPayload);
        backlogBytes_->fetch_add(weight);
        handler_(std::move(batch), weight);
        batch = DatagramBatch();
        batchPayload = 0;
    };

    for (;;) {
        bool readable = false;
        const bool behind = backlogBytes_->load() > kMaxBacklogBytes;
        if (!WaitReadable(behind ? kBacklogPollMs : -1, readable)) {
            return;
        }
        if (behind || !readable) {
            continue;
        }
        // Reads until the socket has nothing more or the batch is full; the
        // outer loop then looks at the wake-up and the backlog again, so a
        // flood can neither keep the thread from stopping nor grow the backlog.
        while (batch.size() < kMaxBatchDatagrams) {
            for (unsigned i = 0; i < kSlots; ++i) {
                vectors[i] = {buffers.get() + i * kSlotBytes, kSlotBytes};
                msghdr& header = messages[i].msg_hdr;
                header = {};
                header.msg_name = &senders[i];
                header.msg_namelen = sizeof(sockaddr_in);
                header.msg_iov = &vectors[i];
                header.msg_iovlen = 1;
                header.msg_control = &control[i * controlStride];
                header.msg_controllen = controlStride * sizeof(cmsghdr);
                messages[i].msg_len = 0;
            }
            const int count = recvmmsg(socket_, messages.data(), kSlots, MSG_DONTWAIT, nullptr);
            if (count <= 0) {
                // Nothing more for now, or a queued socket error (which the
                // call has now cleared): either way, wait for the next one.
                break;
            }
            for (int i = 0; i < count; ++i) {
                ReceivedDatagram datagram;
                datagram.bytes =
                    QByteArray(buffers.get() + i * kSlotBytes, static_cast<int>(messages[i].msg_len));
                datagram.sender = QHostAddress(ntohl(senders[i].sin_addr.s_addr));
                datagram.senderPort = ntohs(senders[i].sin_port);
                datagram.interfaceIndex = InterfaceOf(messages[i].msg_hdr);
                batchPayload += static_cast<size_t>(datagram.bytes.size());
                batch.push_back(std::move(datagram));
            }
            if (static_cast<unsigned>(count) < kSlots) {
                break;
            }
        }
        handOn();
    }
}
