#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

using TaskFunc = void(void* clientData);
using TaskToken = void*;
using BackgroundHandlerProc = void(void* clientData, int mask);

constexpr int SOCKET_READABLE = 1 << 0;
constexpr int SOCKET_WRITABLE = 1 << 1;
constexpr int SOCKET_EXCEPTION = 1 << 2;

// The event loop interface the RTSP client layer is written against: delayed
// tasks, socket readiness handlers and a loop that steps until told to stop.
// Everything runs on the one thread that runs the loop.
class TaskScheduler {
public:
    virtual ~TaskScheduler() = default;

    // Runs `proc(clientData)` once, `microseconds` from now (0 = at the next step).
    virtual TaskToken scheduleDelayedTask(int64_t microseconds, TaskFunc* proc, void* clientData) = 0;
    // Cancels a pending task (a null or already run token is fine) and clears the token.
    virtual void unscheduleDelayedTask(TaskToken& prevTask) = 0;

    // Calls `handler(clientData, readyMask)` whenever the socket is ready for one of
    // the conditions in `conditionSet`; 0 removes the handler.
    virtual void setBackgroundHandling(int socketNum, int conditionSet, BackgroundHandlerProc* handler,
                                       void* clientData) = 0;
    void disableBackgroundHandling(int socketNum) { setBackgroundHandling(socketNum, 0, nullptr, nullptr); }
    void turnOnBackgroundReadHandling(int socketNum, BackgroundHandlerProc* handler, void* clientData)
    {
        setBackgroundHandling(socketNum, SOCKET_READABLE, handler, clientData);
    }

    // Steps until *watchVariable becomes non-zero (never, when it is null).
    virtual void doEventLoop(char volatile* watchVariable) = 0;
};

// Scheduler that waits in poll(2). An eventfd lets any thread wake a waiting
// step at once (Wake), so an idle loop sleeps instead of polling on a timer.
class BasicTaskScheduler : public TaskScheduler {
public:
    // `granularityUs` > 0 keeps a housekeeping tick of that period on the loop.
    explicit BasicTaskScheduler(unsigned granularityUs);
    ~BasicTaskScheduler() override;
    BasicTaskScheduler(const BasicTaskScheduler&) = delete;
    BasicTaskScheduler& operator=(const BasicTaskScheduler&) = delete;

    TaskToken scheduleDelayedTask(int64_t microseconds, TaskFunc* proc, void* clientData) override;
    void unscheduleDelayedTask(TaskToken& prevTask) override;
    void setBackgroundHandling(int socketNum, int conditionSet, BackgroundHandlerProc* handler,
                               void* clientData) override;
    void doEventLoop(char volatile* watchVariable) override;

    // One step: waits for socket readiness, the next due task or a Wake, for at most
    // `maxDelayUs` microseconds (0 = no cap), then runs what became ready.
    void SingleStep(unsigned maxDelayUs = 0);

    // Thread-safe: makes a waiting (or the next) step return at once.
    void Wake();

    // Number of delayed tasks pending (the housekeeping tick included).
    size_t PendingTaskCount() const { return tasks_.size(); }

private:
    struct Task {
        TaskFunc* proc = nullptr;
        void* clientData = nullptr;
    };
    struct Handler {
        int conditionSet = 0;
        BackgroundHandlerProc* proc = nullptr;
        void* clientData = nullptr;
    };
    using TaskKey = std::pair<int64_t, uint64_t>; // due time (monotonic µs), sequence number

    static void HousekeepingTick(void* clientData);
    void RunDueTasks();
    void DrainWakeEvent();

    unsigned granularityUs_ = 0;
    int wakeFd_ = -1;
    uint64_t nextSequence_ = 1;
    std::map<TaskKey, Task> tasks_;
    std::map<uint64_t, TaskKey> tokens_; // sequence number -> key, for unscheduling
    std::map<int, Handler> handlers_;    // socket -> handler
    TaskToken tickTask_ = nullptr;
};

// Monotonic clock in microseconds.
int64_t MonotonicMicroseconds();
// Monotonic clock in whole seconds, never 0 (0 means "never" to its users).
long long MonotonicSeconds();
