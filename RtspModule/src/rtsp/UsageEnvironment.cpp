#include "UsageEnvironment.h"

#include <cstring>
#include <iostream>

void UsageEnvironment::setResultErrMsg(const std::string& message, int err)
{
    resultMsg_ = message + std::strerror(err);
}

BasicUsageEnvironment* BasicUsageEnvironment::createNew(TaskScheduler& scheduler, std::ostream* output)
{
    return new BasicUsageEnvironment(scheduler, output);
}

BasicUsageEnvironment::BasicUsageEnvironment(TaskScheduler& scheduler, std::ostream* output)
    : UsageEnvironment(scheduler), out_(output != nullptr ? *output : std::cerr)
{
}

UsageEnvironment& BasicUsageEnvironment::operator<<(const char* text)
{
    out_ << (text != nullptr ? text : "(NULL)");
    out_.flush();
    return *this;
}

UsageEnvironment& BasicUsageEnvironment::operator<<(const std::string& text)
{
    out_ << text;
    out_.flush();
    return *this;
}

UsageEnvironment& BasicUsageEnvironment::operator<<(int value)
{
    out_ << value;
    return *this;
}

UsageEnvironment& BasicUsageEnvironment::operator<<(unsigned value)
{
    out_ << value;
    return *this;
}

UsageEnvironment& BasicUsageEnvironment::operator<<(double value)
{
    out_ << value;
    return *this;
}
