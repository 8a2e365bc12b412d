#include "UdpReceiveThread.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <easylogging++.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

namespace {

// Datagrams one recvmmsg call can take. Each slot holds the largest UDP
// payload, so nothing is ever cut; the pages of a slot that no datagram
// reaches are never touched.
constexpr unsigned kSlots = 64;
constexpr size_t kSlotBytes = 65536;
// A batch is handed on once the socket has been quiet this long, or when it
// has grown this large or this old, so that rows still show while a long
// burst goes on.
constexpr std::chrono::milliseconds kQuiet(3);
constexpr int kMaxBatchDatagrams = 2048;
constexpr std::chrono::milliseconds kMaxBatchAge(50);
// The pause between two reads while a burst is on. The stock receive buffer
// holds some 500 small datagrams, which a gigabit link can bring in about a
// millisecond; a few pauses fit in that even when a pause ends late on a
// busy machine, and each read finds tens of datagrams to take at once.
constexpr std::chrono::microseconds kBurstPace(250);
// While the backlog is full the thread sleeps until its consumer wakes it;
// it looks again after this long all the same, should a wake-up be missed.
constexpr std::chrono::milliseconds kBacklogWait(200);
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

using Clock = std::chrono::steady_clock;

// The thread runs for a few microseconds at a time. Asking the scheduler for
// a time slice that short (Linux 6.12 and later; no privilege needed) lets
// it preempt a long-running thread as soon as its pause ends, where it would
// otherwise wait for that thread's slice to run out, some milliseconds on a
// busy machine. Its share of the processor stays what it was. Older kernels
// ignore the request.
void RequestShortSlice()
{
    // The system call's argument in its first version (48 bytes); the C
    // library has no declaration of it, and the kernel's header clashes with
    // <sched.h>.
    struct SchedAttributes {
        uint32_t size;
        uint32_t sched_policy;
        uint64_t sched_flags;
        int32_t sched_nice;
        uint32_t sched_priority;
        uint64_t sched_runtime;
        uint64_t sched_deadline;
        uint64_t sched_period;
    };
    static_assert(sizeof(SchedAttributes) == 48, "layout of the kernel's sched_attr");
    constexpr uint64_t kSliceNs = 100 * 1000; // the shortest the kernel grants
    const pid_t thread = static_cast<pid_t>(syscall(SYS_gettid));
    errno = 0;
    const int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(thread));
    if (errno != 0) {
        return;
    }
    SchedAttributes attributes{};
    attributes.size = sizeof attributes;
    attributes.sched_policy = SCHED_OTHER;
    attributes.sched_nice = nice; // unchanged: raising it would need privilege
    attributes.sched_runtime = kSliceNs;
    if (syscall(SYS_sched_setattr, 0, &attributes, 0) != 0) {
        VLOG(1) << "Receive thread keeps the default time slice: " << std::strerror(errno);
    }
}

bool Full(const DatagramBatch& batch, size_t payloadBytes)
{
    return batch.size() >= kMaxBatchDatagrams || payloadBytes >= UdpReceiveThread::kMaxBatchBytes;
}

} // namespace

UdpReceiveThread::UdpReceiveThread(std::vector<int> sockets,
                                   std::shared_ptr<std::atomic<size_t>> backlogBytes, BatchHandler handler)
    : sockets_(std::move(sockets)), backlogBytes_(std::move(backlogBytes)), handler_(std::move(handler))
{
    wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd_ < 0) {
        LOG(ERROR) << "Cannot create the receive thread's wake-up: " << std::strerror(errno);
        return;
    }
    // The caller sends its request once this returns: replies that came
    // before the thread first ran would fill the buffer unread.
    std::promise<void> started;
    std::future<void> reading = started.get_future();
    thread_ = std::thread(&UdpReceiveThread::Run, this, std::move(started));
    if (reading.wait_for(std::chrono::milliseconds(kStartWaitMs)) != std::future_status::ready) {
        LOG(WARNING) << "The receive thread has not started after " << kStartWaitMs << " ms";
    }
}

UdpReceiveThread::~UdpReceiveThread()
{
    if (thread_.joinable()) {
        stopping_.store(true);
        Wake();
        thread_.join();
    }
    if (wakeFd_ >= 0) {
        close(wakeFd_);
    }
}

void UdpReceiveThread::Wake()
{
    const uint64_t one = 1;
    if (write(wakeFd_, &one, sizeof one) < 0) {
        LOG(ERROR) << "Cannot wake the receive thread: " << std::strerror(errno);
    }
}

size_t UdpReceiveThread::Weight(size_t datagrams, size_t payloadBytes)
{
    return payloadBytes + datagrams * kDatagramOverheadBytes;
}

void UdpReceiveThread::BurstBegins()
{
    if (!burstAnnounced_.exchange(true)) {
        Wake();
    }
}

void UdpReceiveThread::BacklogDrained()
{
    if (sleepingOnBacklog_.exchange(false)) {
        Wake();
    }
}

bool UdpReceiveThread::WaitReadable(std::chrono::microseconds timeout, bool watchSockets, bool& readable)
{
    ++waits_;
    std::vector<pollfd> fds{{wakeFd_, POLLIN, 0}};
    if (watchSockets) {
        for (const int socket : sockets_) {
            fds.push_back({socket, POLLIN, 0});
        }
    }
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(timeout);
    const timespec limit{static_cast<time_t>(seconds.count()),
                         static_cast<long>(std::chrono::nanoseconds(timeout - seconds).count())};
    const int ready = ppoll(fds.data(), fds.size(), timeout.count() < 0 ? nullptr : &limit, nullptr);
    if (ready < 0 && errno != EINTR) {
        LOG(ERROR) << "Receive thread: poll failed: " << std::strerror(errno);
        return false;
    }
    if (ready > 0 && (fds[0].revents & POLLIN) != 0) {
        uint64_t count = 0;
        if (read(wakeFd_, &count, sizeof count) < 0 && errno != EAGAIN) {
            LOG(ERROR) << "Receive thread: cannot read its wake-up: " << std::strerror(errno);
        }
        if (stopping_.load()) {
            return false;
        }
    }
    readable = false;
    for (size_t i = 1; ready > 0 && i < fds.size(); ++i) {
        if ((fds[i].revents & POLLNVAL) != 0) {
            return false;
        }
        readable = readable || (fds[i].revents & (POLLIN | POLLERR)) != 0;
    }
    return true;
}

void UdpReceiveThread::Drain(DatagramBatch& batch, size_t& payloadBytes)
{
    for (const int socket : sockets_) {
        DrainSocket(socket, batch, payloadBytes);
    }
}

void UdpReceiveThread::DrainSocket(int socket, DatagramBatch& batch, size_t& payloadBytes)
{
    const size_t controlStride = control_.size() / kSlots;
    // Reads until the socket has nothing more or the batch is full; the
    // caller then looks at the wake-up and the backlog again, so a flood can
    // neither keep the thread from stopping nor grow the backlog.
    while (!Full(batch, payloadBytes)) {
        // No more slots than the batch has bytes left for (at least one).
        const unsigned slots = static_cast<unsigned>(
            std::min<size_t>(kSlots, std::max<size_t>(1, (kMaxBatchBytes - payloadBytes) / kSlotBytes)));
        for (unsigned i = 0; i < slots; ++i) {
            vectors_[i] = {buffers_.get() + i * kSlotBytes, kSlotBytes};
            msghdr& header = messages_[i].msg_hdr;
            header = {};
            header.msg_name = &senders_[i];
            header.msg_namelen = sizeof(sockaddr_in);
            header.msg_iov = &vectors_[i];
            header.msg_iovlen = 1;
            header.msg_control = &control_[i * controlStride];
            header.msg_controllen = controlStride * sizeof(cmsghdr);
            messages_[i].msg_len = 0;
        }
        const int count = recvmmsg(socket, messages_.data(), slots, MSG_DONTWAIT, nullptr);
        if (count <= 0) {
            // Nothing more for now, or a queued socket error (which the call
            // has now cleared): either way, wait for the next datagram.
            return;
        }
        for (int i = 0; i < count; ++i) {
            ReceivedDatagram datagram;
            datagram.bytes =
                QByteArray(buffers_.get() + i * kSlotBytes, static_cast<int>(messages_[i].msg_len));
            datagram.senderAddress = ntohl(senders_[i].sin_addr.s_addr);
            datagram.senderPort = ntohs(senders_[i].sin_port);
            datagram.interfaceIndex = InterfaceOf(messages_[i].msg_hdr);
            payloadBytes += static_cast<size_t>(datagram.bytes.size());
            batch.push_back(std::move(datagram));
        }
        if (static_cast<unsigned>(count) < slots) {
            return;
        }
    }
}

void UdpReceiveThread::Run(std::promise<void> started)
{
    RequestShortSlice();
    buffers_.reset(new char[kSlots * kSlotBytes]);
    messages_.resize(kSlots);
    vectors_.resize(kSlots);
    senders_.resize(kSlots);
    constexpr size_t kControlBytes = CMSG_SPACE(sizeof(in_pktinfo));
    control_.resize(kSlots * ((kControlBytes + sizeof(cmsghdr) - 1) / sizeof(cmsghdr)));

    DatagramBatch batch;
    size_t payloadBytes = 0;
    Clock::time_point batchStart;
    const auto handOn = [&] {
        const size_t weight = Weight(static_cast<size_t>(batch.size()), payloadBytes);
        backlogBytes_->fetch_add(weight);
        handler_(std::move(batch), weight);
        batch = DatagramBatch();
        payloadBytes = 0;
    };

    started.set_value();
    bool inBurst = false;
    Clock::time_point lastData; // of the burst: its last datagram, or its announcement
    for (;;) {
        // Announced before the backlog is looked at, so that a consumer that
        // drains it in between still wakes the thread.
        sleepingOnBacklog_.store(true);
        const bool behind = backlogBytes_->load() > kMaxBacklogBytes;
        if (!behind) {
            sleepingOnBacklog_.store(false);
        }
        std::chrono::microseconds timeout(-1);
        if (behind) {
            timeout = kBacklogWait;
        } else if (inBurst) {
            timeout = kBurstPace;
        } else if (!batch.isEmpty()) {
            timeout = kQuiet;
        }
        bool readable = false;
        // While the backlog is full the sockets are not watched: they stay
        // readable, and watching them would wake the thread over and over.
        // During a burst they are read after each pause whatever they hold,
        // and watching them would wake the thread for every datagram.
        if (!WaitReadable(timeout, !behind && !inBurst, readable)) {
            return;
        }
        if (behind) {
            sleepingOnBacklog_.store(false);
            continue;
        }
        Clock::time_point now = Clock::now();
        if (burstAnnounced_.exchange(false)) {
            inBurst = true;
            lastData = now;
        }
        bool read = false;
        if (inBurst || readable) {
            const int before = batch.size();
            Drain(batch, payloadBytes);
            read = batch.size() != before;
            if (read) {
                if (before == 0) {
                    batchStart = now;
                }
                now = Clock::now();
                lastData = now;
                // A burst nobody announced (late replies, say) is read the
                // same way from its first datagram on.
                inBurst = true;
            }
        }
        if (inBurst && now - lastData >= std::chrono::milliseconds(kBurstGapMs)) {
            inBurst = false;
        }
        inBurst_.store(inBurst);
        const bool quiet = !read && now - lastData >= kQuiet;
        if (!batch.isEmpty() && (quiet || Full(batch, payloadBytes) || now - batchStart >= kMaxBatchAge)) {
            handOn();
        }
    }
}
