#pragma once

#include "TaskScheduler.h"

#include <atomic>
#include <condition_variable>
#include <mutex>

enum class Activity : int {
    Idle = 0,     // no loop runs
    Running = 1,  // the loop runs
    Stopping = 2, // a stop was requested and the loop has not yet ended
};

// Scheduler whose loop any thread may ask to stop, and whose end another thread
// can wait for. The loop runs once in the scheduler's life, on the thread that
// calls doEventLoop. A stop request wakes a waiting loop at once. A stop asked
// for before the loop starts ends it as soon as it starts; one asked for after
// it has ended changes nothing, so StopAndWait never waits for an ended loop.
class ThreadSafeTaskScheduler final : public BasicTaskScheduler {
public:
    explicit ThreadSafeTaskScheduler(unsigned granularityUs);
    ~ThreadSafeTaskScheduler() override;

    // The watch variable is ignored: only SetStopFlag / StopAndWait end the loop.
    void doEventLoop(char volatile* watchVariable) override;

    // Any thread, also from a handler inside the loop; returns at once.
    void SetStopFlag();
    Activity GetStopFlag() const;
    // Requests a stop and blocks until the loop has ended; returns at once when no
    // loop runs. Never from the loop's own thread.
    void StopAndWait();

private:
    // Moves Running to Stopping, or records a stop for a loop not yet started.
    void RequestStop();

    std::atomic<Activity> stopFlag_{Activity::Idle};
    std::condition_variable stoppedEvent_;     // notified when the loop has ended
    std::mutex mutex_;                         // guards the end-of-loop hand-over with stoppedEvent_
    std::atomic<bool> stopBeforeStart_{false}; // a stop came while no loop had run yet
    std::atomic<bool> loopEnded_{false};       // the one loop has returned
};
