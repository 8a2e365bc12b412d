#include "LogSetup.h"

#include <easylogging++.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>
#include <string>

namespace {

constexpr mode_t kFolderMode = 0700;
constexpr mode_t kFileMode = 0600;

const char kLogFileSwitch[] = "--default-log-file";

// 0 when the file can be written, otherwise the reason as an errno value.
int MakePrivateFile(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, kFileMode);
    if (fd < 0) {
        return errno;
    }
    ::fchmod(fd, kFileMode);
    ::close(fd);
    return 0;
}

} // namespace

void PrepareDefaultLogFile()
{
    const std::string file = ELPP_DEFAULT_LOG_FILE;
    const size_t slash = file.rfind('/');
    if (slash != std::string::npos) {
        const std::string folder = file.substr(0, slash);
        if (::mkdir(folder.c_str(), kFolderMode) != 0) {
            ::chmod(folder.c_str(), kFolderMode);
        }
    }
    MakePrivateFile(file);
}

std::string ConfigureLogging()
{
    el::Configurations conf;
    conf.setToDefault();
    // The library took the file named on the command line when it was given
    // the arguments; the defaults above would put the default file back.
    const el::base::utils::CommandLineArgs* arguments = el::Helpers::commandLineArgs();
    if (arguments->hasParamWithValue(kLogFileSwitch)) {
        conf.setGlobally(el::ConfigurationType::Filename, arguments->getParamValue(kLogFileSwitch));
    }
    conf.set(el::Level::Verbose, el::ConfigurationType::Format,
             "%datetime{%d.%M.%Y %H:%m:%s.%g} %level %vlevel %thread %user %func %loc: %msg");
    conf.setGlobally(el::ConfigurationType::ToStandardOutput, "false");
    el::Loggers::reconfigureAllLoggers(conf);
    el::Loggers::addFlag(el::LoggingFlag::StrictLogFileSizeCheck);
    el::Loggers::reconfigureAllLoggers(el::ConfigurationType::MaxLogFileSize, "2097152");
    // A file named on the command line is private too.
    el::Logger* logger = el::Loggers::getLogger("default");
    if (logger == nullptr) {
        return {};
    }
    // Every level writes to the same file; the global level's entry keeps the
    // default name whatever the levels were given.
    const std::string file = logger->typedConfigurations()->filename(el::Level::Info);
    const int error = MakePrivateFile(file);
    if (error == 0) {
        return {};
    }
    const std::string problem = "Cannot write the log file " + file + ": " + std::strerror(error);
    std::cerr << problem << std::endl;
    return problem;
}
