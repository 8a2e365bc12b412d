#include "TaskScheduler.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

int64_t MonotonicMicroseconds()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

long long MonotonicSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) + 1;
}

BasicTaskScheduler::BasicTaskScheduler(unsigned granularityUs)
    : granularityUs_(granularityUs), wakeFd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC))
{
    if (granularityUs_ > 0) {
        tickTask_ = scheduleDelayedTask(granularityUs_, HousekeepingTick, this);
    }
}

BasicTaskScheduler::~BasicTaskScheduler()
{
    if (wakeFd_ >= 0) {
        close(wakeFd_);
    }
}

void BasicTaskScheduler::HousekeepingTick(void* clientData)
{
    auto* self = static_cast<BasicTaskScheduler*>(clientData);
    self->tickTask_ = self->scheduleDelayedTask(self->granularityUs_, HousekeepingTick, self);
}

TaskToken BasicTaskScheduler::scheduleDelayedTask(int64_t microseconds, TaskFunc* proc, void* clientData)
{
    if (microseconds < 0) {
        microseconds = 0;
    }
    const uint64_t sequence = nextSequence_++;
    const TaskKey key{MonotonicMicroseconds() + microseconds, sequence};
    tasks_[key] = Task{proc, clientData};
    tokens_[sequence] = key;
    return reinterpret_cast<TaskToken>(static_cast<uintptr_t>(sequence));
}

void BasicTaskScheduler::unscheduleDelayedTask(TaskToken& prevTask)
{
    const auto sequence = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(prevTask));
    prevTask = nullptr;
    const auto it = tokens_.find(sequence);
    if (it == tokens_.end()) {
        return;
    }
    tasks_.erase(it->second);
    tokens_.erase(it);
}

void BasicTaskScheduler::setBackgroundHandling(int socketNum, int conditionSet,
                                               BackgroundHandlerProc* handler, void* clientData)
{
    if (socketNum < 0) {
        return;
    }
    if (conditionSet == 0 || handler == nullptr) {
        handlers_.erase(socketNum);
    } else {
        handlers_[socketNum] = Handler{conditionSet, handler, clientData};
    }
}

void BasicTaskScheduler::doEventLoop(char volatile* watchVariable)
{
    while (watchVariable == nullptr || *watchVariable == 0) {
        SingleStep();
    }
}

void BasicTaskScheduler::Wake()
{
    const uint64_t one = 1;
    // A full counter already means "wake"; nothing else can go wrong here.
    [[maybe_unused]] const ssize_t written = write(wakeFd_, &one, sizeof(one));
}

void BasicTaskScheduler::DrainWakeEvent()
{
    uint64_t value = 0;
    [[maybe_unused]] const ssize_t got = read(wakeFd_, &value, sizeof(value));
}

void BasicTaskScheduler::SingleStep(unsigned maxDelayUs)
{
    std::vector<pollfd> fds;
    fds.reserve(handlers_.size() + 1);
    fds.push_back(pollfd{wakeFd_, POLLIN, 0});
    for (const auto& [socketNum, handler] : handlers_) {
        short events = 0;
        if (handler.conditionSet & SOCKET_READABLE) {
            events |= POLLIN;
        }
        if (handler.conditionSet & SOCKET_WRITABLE) {
            events |= POLLOUT;
        }
        fds.push_back(pollfd{socketNum, events, 0});
    }

    int64_t timeoutUs = -1;
    if (!tasks_.empty()) {
        timeoutUs = std::max<int64_t>(0, tasks_.begin()->first.first - MonotonicMicroseconds());
    }
    if (maxDelayUs > 0 && (timeoutUs < 0 || timeoutUs > maxDelayUs)) {
        timeoutUs = maxDelayUs;
    }
    // poll counts in milliseconds: round up so a task is never run early and the
    // step never turns into a busy loop.
    const int timeoutMs = timeoutUs < 0 ? -1 : static_cast<int>((timeoutUs + 999) / 1000);

    const int ready = poll(fds.data(), fds.size(), timeoutMs);
    if (ready > 0) {
        if (fds[0].revents != 0) {
            DrainWakeEvent();
        }
        for (size_t i = 1; i < fds.size(); ++i) {
            if (fds[i].revents == 0) {
                continue;
            }
            // An earlier handler of this step may have removed or replaced this one.
            const auto it = handlers_.find(fds[i].fd);
            if (it == handlers_.end()) {
                continue;
            }
            int mask = 0;
            if (fds[i].revents & (POLLIN | POLLHUP)) {
                mask |= SOCKET_READABLE;
            }
            if (fds[i].revents & POLLOUT) {
                mask |= SOCKET_WRITABLE;
            }
            if (fds[i].revents & (POLLERR | POLLNVAL)) {
                mask |= SOCKET_EXCEPTION;
            }
            mask &= it->second.conditionSet | SOCKET_EXCEPTION;
            if (mask != 0) {
                const Handler handler = it->second;
                handler.proc(handler.clientData, mask);
            }
        }
    }
    RunDueTasks();
}

void BasicTaskScheduler::RunDueTasks()
{
    // Only tasks that were due and scheduled before this point run now, so a task
    // that reschedules itself with no delay cannot keep the step from returning.
    const int64_t now = MonotonicMicroseconds();
    const uint64_t sequenceLimit = nextSequence_;
    while (!tasks_.empty()) {
        const auto it = tasks_.begin();
        if (it->first.first > now) {
            break;
        }
        auto found = tasks_.end();
        for (auto candidate = it; candidate != tasks_.end() && candidate->first.first <= now; ++candidate) {
            if (candidate->first.second < sequenceLimit) {
                found = candidate;
                break;
            }
        }
        if (found == tasks_.end()) {
            break;
        }
        const Task task = found->second;
        tokens_.erase(found->first.second);
        tasks_.erase(found);
        task.proc(task.clientData);
    }
}
