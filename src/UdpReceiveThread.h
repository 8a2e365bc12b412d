#pragma once

#include <QByteArray>
#include <QVector>

#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <thread>
#include <vector>

// One datagram as it came off the socket.
struct ReceivedDatagram {
    QByteArray bytes;
    quint32 senderAddress = 0; // IPv4, host byte order
    quint16 senderPort = 0;
    int interfaceIndex = 0; // the interface it came in on; 0 when unknown
};

using DatagramBatch = QVector<ReceivedDatagram>;

// Drains bound UDP sockets on a thread of its own, as fast as datagrams
// arrive, so that a burst of replies is read before the kernel's receive
// buffer overflows. Datagrams are read many at a time and handed on in
// batches, once the socket has gone quiet for a moment (or the batch is
// large or old enough): while a burst lasts, its consumer does not compete
// with the thread for the processor. The handler runs on the drain thread
// and must pass the batch on to wherever it is used.
//
// While a burst lasts (announced by BurstBegins, or begun by a datagram),
// the thread reads the sockets at short, fixed intervals and sleeps in
// between, instead of waiting to be woken by each datagram or reading
// without pause: a thread that reads without pause uses up its share of a
// busy processor and is then kept off it for many milliseconds, long enough
// for the buffer to overflow, while one that mostly sleeps is run again as
// soon as its pause ends. The burst ends once the sockets have stayed empty
// for kBurstGapMs; then the thread sleeps until a datagram comes.
//
// Memory stays bounded however fast datagrams come: a batch holds at most
// kMaxBatchBytes of payload, the handler adds what it hands on to
// `backlogBytes`, its consumer takes it off again, and while the backlog is
// above kMaxBacklogBytes the thread reads nothing and sleeps (the kernel then
// drops what does not fit in its buffer) until the consumer says it has
// caught up (BacklogDrained) or the thread is stopped.
class UdpReceiveThread final {
public:
    static constexpr size_t kMaxBatchBytes = 4 * 1024 * 1024;
    static constexpr size_t kMaxBacklogBytes = 32 * 1024 * 1024;
    // Devices answer a request within milliseconds, and the replies of a
    // site follow each other closely: sockets empty for this long end a
    // burst (or, announced, one that has not begun).
    static constexpr int kBurstGapMs = 20;
    // A thread that has not run within this long is left to start by itself.
    static constexpr int kStartWaitMs = 1000;

    // `weightBytes` is what the batch counts against the backlog.
    using BatchHandler = std::function<void(DatagramBatch&& batch, size_t weightBytes)>;

    // Starts at once on `sockets`, which must be bound and non-blocking and
    // stay owned by the caller, and returns once the thread reads them (or
    // after kStartWaitMs, should it be slow to start). False from IsRunning()
    // when no thread could be started.
    UdpReceiveThread(std::vector<int> sockets, std::shared_ptr<std::atomic<size_t>> backlogBytes,
                     BatchHandler handler);
    // Stops and joins the thread; no handler call comes after it returns.
    ~UdpReceiveThread();
    UdpReceiveThread(const UdpReceiveThread&) = delete;
    UdpReceiveThread& operator=(const UdpReceiveThread&) = delete;

    bool IsRunning() const { return thread_.joinable(); }

    // Called by the consumer after it has taken a batch off the backlog:
    // wakes the thread if it sleeps because the backlog was full. Any thread.
    void BacklogDrained();

    // A request whose replies come in a burst is about to go out: the thread
    // reads at short intervals from now on, so that it is already reading
    // when the first replies arrive. Any thread.
    void BurstBegins();
    // Whether the thread reads at short intervals now (a burst is on).
    bool InBurst() const { return inBurst_.load(); }

    // How often the thread has waited so far: it waits once per pass of its
    // loop, so this shows whether it sleeps or spins.
    size_t Waits() const { return waits_.load(); }

    // What a batch of this many datagrams and payload bytes weighs in the backlog.
    static size_t Weight(size_t datagrams, size_t payloadBytes);

private:
    void Run(std::promise<void> started);
    void Wake();
    // Waits until a socket is readable (when they are watched), the thread
    // is woken or the timeout (none when negative) is over; false when the
    // thread is to end.
    bool WaitReadable(std::chrono::microseconds timeout, bool watchSockets, bool& readable);
    // Reads what the sockets hold now into `batch`, up to its limit.
    void Drain(DatagramBatch& batch, size_t& payloadBytes);
    void DrainSocket(int socket, DatagramBatch& batch, size_t& payloadBytes);

    std::vector<int> sockets_;
    int wakeFd_ = -1; // eventfd the destructor writes to end the thread at once
    std::atomic<bool> stopping_{false};
    std::atomic<bool> sleepingOnBacklog_{false}; // waits for BacklogDrained
    std::atomic<bool> burstAnnounced_{false};    // BurstBegins not yet seen by the thread
    std::atomic<bool> inBurst_{false};
    std::atomic<size_t> waits_{0};
    std::shared_ptr<std::atomic<size_t>> backlogBytes_;
    BatchHandler handler_;
    std::thread thread_;
    // recvmmsg's slots, made once by the thread.
    std::unique_ptr<char[]> buffers_;
    std::vector<mmsghdr> messages_;
    std::vector<iovec> vectors_;
    std::vector<sockaddr_in> senders_;
    std::vector<cmsghdr> control_;
};
