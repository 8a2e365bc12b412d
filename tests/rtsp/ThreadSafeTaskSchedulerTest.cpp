// The stoppable loop: stops from inside and outside the loop, before its start
// and after its end, and the hand-over StopAndWait relies on.
#include "ThreadSafeTaskScheduler.h"

#include "LogCapture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

namespace {

constexpr unsigned kGranularityUs = 1000000;

void StopFromTask(void* clientData)
{
    static_cast<ThreadSafeTaskScheduler*>(clientData)->SetStopFlag();
}

// Runs the loop on a thread of its own; the future is ready once doEventLoop returned.
std::future<void> RunLoop(ThreadSafeTaskScheduler& scheduler)
{
    return std::async(std::launch::async, [&scheduler] { scheduler.doEventLoop(nullptr); });
}

void WaitUntilRunning(const ThreadSafeTaskScheduler& scheduler)
{
    while (scheduler.GetStopFlag() != Activity::Running) {
        std::this_thread::yield();
    }
}

TEST(ThreadSafeTaskSchedulerTest, StopFromADelayedTaskEndsTheLoopOnItsThread)
{
    ThreadSafeTaskScheduler scheduler(kGranularityUs);
    std::atomic<int> runs{0};
    scheduler.scheduleDelayedTask(
        1000, [](void* data) { ++*static_cast<std::atomic<int>*>(data); }, &runs);
    scheduler.scheduleDelayedTask(20000, StopFromTask, &scheduler);
    // The watch variable has no say: a set one does not end the loop early.
    char volatile watch = 1;
    scheduler.doEventLoop(&watch);
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(scheduler.GetStopFlag(), Activity::Idle);
}

TEST(ThreadSafeTaskSchedulerTest, StopAndWaitFromAnotherThreadWaitsForTheEndAndLogs)
{
    LogCapture log;
    ThreadSafeTaskScheduler scheduler(kGranularityUs);
    std::atomic<bool> loopReturned{false};
    std::thread loop([&] {
        scheduler.doEventLoop(nullptr);
        loopReturned = true;
    });
    WaitUntilRunning(scheduler);
    scheduler.StopAndWait();
    // doEventLoop stored Idle before StopAndWait could return.
    EXPECT_EQ(scheduler.GetStopFlag(), Activity::Idle);
    loop.join();
    EXPECT_TRUE(loopReturned);
    const auto messages = log.Messages();
    const auto waitAt = std::find(messages.begin(), messages.end(), "Will wait for stoppedEvent_...");
    const auto stoppedAt = std::find(messages.begin(), messages.end(), "Stopped");
    ASSERT_NE(waitAt, messages.end());
    ASSERT_NE(stoppedAt, messages.end());
    EXPECT_LT(waitAt, stoppedAt);
}

TEST(ThreadSafeTaskSchedulerTest, SetStopFlagWakesAnIdleLoopAtOnce)
{
    // No task is due for a minute: only the wake-up can end the step.
    ThreadSafeTaskScheduler scheduler(0);
    scheduler.scheduleDelayedTask(60000000, StopFromTask, &scheduler);
    auto done = RunLoop(scheduler);
    WaitUntilRunning(scheduler);
    scheduler.SetStopFlag();
    EXPECT_EQ(done.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(scheduler.GetStopFlag(), Activity::Idle);
}

TEST(ThreadSafeTaskSchedulerTest, StopBeforeTheStartEndsTheLoopWhenItStarts)
{
    LogCapture log;
    ThreadSafeTaskScheduler scheduler(kGranularityUs);
    scheduler.SetStopFlag();
    EXPECT_EQ(scheduler.GetStopFlag(), Activity::Idle);
    // StopAndWait on a loop that never ran returns at once and logs nothing.
    scheduler.StopAndWait();
    EXPECT_TRUE(log.Messages().empty());

    auto done = RunLoop(scheduler);
    EXPECT_EQ(done.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(scheduler.GetStopFlag(), Activity::Idle);
}

TEST(ThreadSafeTaskSchedulerTest, StopAfterTheEndChangesNothingAndStopAndWaitReturns)
{
    ThreadSafeTaskScheduler scheduler(kGranularityUs);
    scheduler.scheduleDelayedTask(0, StopFromTask, &scheduler);
    scheduler.doEventLoop(nullptr);
    LogCapture log;
    scheduler.SetStopFlag(); // a second Disconnect after the end
    EXPECT_EQ(scheduler.GetStopFlag(), Activity::Idle);
    auto waited = std::async(std::launch::async, [&scheduler] { scheduler.StopAndWait(); });
    EXPECT_EQ(waited.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_TRUE(log.Messages().empty());
}

TEST(ThreadSafeTaskSchedulerTest, RunningThenStoppingIsVisibleToOtherThreads)
{
    ThreadSafeTaskScheduler scheduler(kGranularityUs);
    std::atomic<Activity> seenInTask{Activity::Idle};
    struct Probe {
        ThreadSafeTaskScheduler* scheduler;
        std::atomic<Activity>* seen;
    } probe{&scheduler, &seenInTask};
    scheduler.scheduleDelayedTask(
        0,
        [](void* data) {
            auto* p = static_cast<Probe*>(data);
            p->scheduler->SetStopFlag();
            *p->seen = p->scheduler->GetStopFlag();
        },
        &probe);
    scheduler.doEventLoop(nullptr);
    EXPECT_EQ(seenInTask, Activity::Stopping);
}

TEST(ThreadSafeTaskSchedulerDeathTest, ASecondLoopIsAProgrammingError)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            ThreadSafeTaskScheduler scheduler(kGranularityUs);
            scheduler.scheduleDelayedTask(0, StopFromTask, &scheduler);
            scheduler.doEventLoop(nullptr);
            scheduler.doEventLoop(nullptr);
        },
        "loop");
}

TEST(BasicTaskSchedulerTest, TasksRunInDueOrderAndUnscheduledOnesNever)
{
    BasicTaskScheduler scheduler(0);
    std::vector<int> order;
    struct Entry {
        std::vector<int>* order;
        int id;
    };
    Entry a{&order, 1};
    Entry b{&order, 2};
    Entry c{&order, 3};
    const auto record = [](void* data) {
        auto* e = static_cast<Entry*>(data);
        e->order->push_back(e->id);
    };
    scheduler.scheduleDelayedTask(20000, record, &b);
    scheduler.scheduleDelayedTask(10000, record, &a);
    TaskToken cancelled = scheduler.scheduleDelayedTask(5000, record, &c);
    scheduler.unscheduleDelayedTask(cancelled);
    EXPECT_EQ(cancelled, nullptr);
    scheduler.unscheduleDelayedTask(cancelled); // twice is harmless
    while (scheduler.PendingTaskCount() > 0) {
        scheduler.SingleStep();
    }
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
}

} // namespace
