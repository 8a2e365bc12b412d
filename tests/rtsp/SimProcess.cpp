#include "SimProcess.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int kReadyTimeoutMs = 15000;
constexpr int kStopTimeoutMs = 5000;

} // namespace

bool SimProcess::Available()
{
    const char* sim = std::getenv("QEL_SIM");
    const char* source = std::getenv("QEL_SOURCE_DIR");
    return sim != nullptr && *sim != '\0' && source != nullptr && *source != '\0';
}

SimProcess::SimProcess(const std::string& deviceNamespace, const std::vector<std::string>& arguments,
                       int runSeconds)
{
    if (!Available()) {
        return;
    }
    std::vector<std::string> all = {std::string(std::getenv("QEL_SOURCE_DIR")) + "/scripts/virtual-lan",
                                    "exec",
                                    deviceNamespace,
                                    std::getenv("QEL_SIM"),
                                    "--run-seconds",
                                    std::to_string(runSeconds),
                                    "--only",
                                    "rtsp"};
    all.insert(all.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& argument : all) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);

    int fds[2] = {-1, -1};
    if (pipe(fds) != 0) {
        return;
    }
    pid_ = fork();
    if (pid_ == 0) {
        // The simulator ends with this process even when a test dies without
        // running destructors; the setting survives the exec.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        dup2(fds[1], STDOUT_FILENO);
        close(fds[0]);
        close(fds[1]);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(fds[1]);
    stdoutFd_ = fds[0];
    if (pid_ < 0) {
        return;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kReadyTimeoutMs);
    while (output_.find("qel-device-sim: ready") == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return;
        }
        pollfd pfd{stdoutFd_, POLLIN, 0};
        if (poll(&pfd, 1, static_cast<int>(left.count())) <= 0) {
            continue;
        }
        char buffer[1024];
        const ssize_t got = read(stdoutFd_, buffer, sizeof(buffer));
        if (got <= 0) {
            return; // the simulator ended before it was ready
        }
        output_.append(buffer, static_cast<size_t>(got));
    }
    ready_ = true;
}

SimProcess::~SimProcess()
{
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        int status = 0;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStopTimeoutMs);
        while (waitpid(pid_, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                kill(pid_, SIGKILL);
                waitpid(pid_, &status, 0);
                break;
            }
            usleep(20000);
        }
    }
    if (stdoutFd_ >= 0) {
        close(stdoutFd_);
    }
}
