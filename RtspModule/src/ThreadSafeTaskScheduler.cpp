#include "ThreadSafeTaskScheduler.h"

#include <easylogging++.h>

#include <cassert>

ThreadSafeTaskScheduler::ThreadSafeTaskScheduler(unsigned granularityUs) : BasicTaskScheduler(granularityUs)
{
    stopFlag_ = Activity::Idle;
}

ThreadSafeTaskScheduler::~ThreadSafeTaskScheduler() = default;

void ThreadSafeTaskScheduler::doEventLoop(char volatile* /*watchVariable*/)
{
    assert(stopFlag_ == Activity::Idle);
    assert(!loopEnded_ && "a scheduler runs one loop in its life");
    stopFlag_ = Activity::Running;
    // Read after Running is stored: a stop that found the flag still Idle has set
    // stopBeforeStart_ by now, or will wake the step below.
    while (stopFlag_ == Activity::Running && !stopBeforeStart_) {
        SingleStep();
    }
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        loopEnded_ = true;
        stopFlag_ = Activity::Idle;
        stoppedEvent_.notify_all();
    }
}

void ThreadSafeTaskScheduler::RequestStop()
{
    Activity expected = Activity::Running;
    if (!stopFlag_.compare_exchange_strong(expected, Activity::Stopping) && expected == Activity::Idle &&
        !loopEnded_) {
        stopBeforeStart_ = true;
    }
    Wake();
}

void ThreadSafeTaskScheduler::SetStopFlag()
{
    RequestStop();
}

Activity ThreadSafeTaskScheduler::GetStopFlag() const
{
    return stopFlag_;
}

void ThreadSafeTaskScheduler::StopAndWait()
{
    std::unique_lock<std::mutex> lock(mutex_);
    if (stopFlag_ == Activity::Idle) {
        if (!loopEnded_) {
            stopBeforeStart_ = true;
        }
        return;
    }
    RequestStop();
    VLOG(1) << "Will wait for stoppedEvent_...";
    stoppedEvent_.wait(lock, [this] { return stopFlag_ == Activity::Idle; });
    lock.unlock();
    VLOG(1) << "Stopped";
}
