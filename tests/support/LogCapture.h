#pragma once

#include <easylogging++.h>

#include <mutex>
#include <string>
#include <vector>

// Collects the messages of every log record written while it is installed.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<std::string> Messages() const;
    bool Contains(const std::string& message) const;
    void Clear();

    class Callback : public el::LogDispatchCallback {
    protected:
        void handle(const el::LogDispatchData* data) override;
    };
};
