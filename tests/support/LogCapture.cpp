#include "LogCapture.h"

#include <algorithm>

namespace {

const char kCallbackName[] = "qel-test-capture";
std::mutex gMutex; // guards gMessages
std::vector<std::string> gMessages;

} // namespace

void LogCapture::Callback::handle(const el::LogDispatchData* data)
{
    const std::lock_guard<std::mutex> lock(gMutex);
    gMessages.push_back(data->logMessage()->message());
}

LogCapture::LogCapture()
{
    el::Loggers::setVerboseLevel(9);
    el::Configurations conf;
    conf.setToDefault();
    conf.setGlobally(el::ConfigurationType::ToFile, "false");
    conf.setGlobally(el::ConfigurationType::ToStandardOutput, "false");
    el::Loggers::reconfigureAllLoggers(conf);
    el::Helpers::installLogDispatchCallback<Callback>(kCallbackName);
    Clear();
}

LogCapture::~LogCapture()
{
    el::Helpers::uninstallLogDispatchCallback<Callback>(kCallbackName);
}

std::vector<std::string> LogCapture::Messages() const
{
    const std::lock_guard<std::mutex> lock(gMutex);
    return gMessages;
}

bool LogCapture::Contains(const std::string& message) const
{
    const auto messages = Messages();
    return std::find(messages.begin(), messages.end(), message) != messages.end();
}

void LogCapture::Clear()
{
    const std::lock_guard<std::mutex> lock(gMutex);
    gMessages.clear();
}
