#include "LogSetup.h"

#include <easylogging++.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

namespace {

constexpr mode_t kFolderMode = 0700;
constexpr mode_t kFileMode = 0600;

void MakePrivateFile(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, kFileMode);
    if (fd >= 0) {
        ::fchmod(fd, kFileMode);
        ::close(fd);
    }
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
    // A file named on the command line (--default-log-file) is private too.
    el::Logger* logger = el::Loggers::getLogger("default");
    if (logger != nullptr) {
        MakePrivateFile(logger->typedConfigurations()->filename(el::Level::Global));
    }
}
