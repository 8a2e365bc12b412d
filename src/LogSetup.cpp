#include "LogSetup.h"

#include <easylogging++.h>

void ConfigureLogging()
{
    el::Configurations conf;
    conf.setToDefault();
    conf.set(el::Level::Verbose, el::ConfigurationType::Format,
             "%datetime{%d.%M.%Y %H:%m:%s.%g} %level %vlevel %thread %user %func %loc: %msg");
    conf.setGlobally(el::ConfigurationType::ToStandardOutput, "false");
    el::Loggers::reconfigureAllLoggers(conf);
    el::Loggers::addFlag(el::LoggingFlag::StrictLogFileSizeCheck);
    el::Loggers::reconfigureAllLoggers(el::ConfigurationType::MaxLogFileSize, "2097152");
}
