#pragma once

#include <ostream>
#include <string>

class TaskScheduler;

// What every object of the layer works in: the scheduler of its loop, a text
// output for progress lines and the message of the latest failure.
class UsageEnvironment {
public:
    virtual ~UsageEnvironment() = default;
    UsageEnvironment(const UsageEnvironment&) = delete;
    UsageEnvironment& operator=(const UsageEnvironment&) = delete;

    TaskScheduler& taskScheduler() const { return scheduler_; }

    const char* getResultMsg() const { return resultMsg_.c_str(); }
    void setResultMsg(const std::string& message) { resultMsg_ = message; }
    // Appends strerror(errno) to `message`.
    void setResultErrMsg(const std::string& message, int err);

    virtual UsageEnvironment& operator<<(const char* text) = 0;
    virtual UsageEnvironment& operator<<(const std::string& text) = 0;
    virtual UsageEnvironment& operator<<(int value) = 0;
    virtual UsageEnvironment& operator<<(unsigned value) = 0;
    virtual UsageEnvironment& operator<<(double value) = 0;

protected:
    explicit UsageEnvironment(TaskScheduler& scheduler) : scheduler_(scheduler) {}

private:
    TaskScheduler& scheduler_;
    std::string resultMsg_;
};

// Environment that writes its progress lines to the standard error stream (or to
// the stream given, for tests). The console output is meant: the lines follow
// the RTSP exchange as it happens, with the Authorization header masked. Does not own its scheduler.
class BasicUsageEnvironment final : public UsageEnvironment {
public:
    static BasicUsageEnvironment* createNew(TaskScheduler& scheduler, std::ostream* output = nullptr);

    UsageEnvironment& operator<<(const char* text) override;
    UsageEnvironment& operator<<(const std::string& text) override;
    UsageEnvironment& operator<<(int value) override;
    UsageEnvironment& operator<<(unsigned value) override;
    UsageEnvironment& operator<<(double value) override;

private:
    BasicUsageEnvironment(TaskScheduler& scheduler, std::ostream* output);
    std::ostream& out_;
};
