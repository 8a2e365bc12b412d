#include "SimProcess.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int kReadyTimeoutMs = 15000;
constexpr int kStopTimeoutMs = 5000;

}  // namespace

bool SimProcess::Available()
{
    const char* sim = std::getenv("QEL_SIM");
    const char* source = std::getenv("QEL_SOURCE_DIR");
    return sim != nullptr && *sim != '\0' && source != nullptr && *source != '\0';
}

SimProcess::SimProcess(const std::string& deviceNamespace, const std::vector<std::string>& arguments, int runSeconds)
{
    if (!Available()) {
        return;
    }
    std::vector<std::string> all = {std::string(std::getenv("QEL_SOURCE_DIR")) + "/scripts/virtual-lan", "exec",
                                    deviceNamespace, std::getenv("QEL_SIM"), "--run-seconds",
                                    std::to_string(runSeconds)};
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
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    posix_spawn_file_actions_addclose(&actions, fds[1]);
    const int spawned = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    stdoutFd_ = fds[0];
    if (spawned != 0) {
        pid_ = -1;
        return;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kReadyTimeoutMs);
    while (output_.find("qel-device-sim: ready") == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
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
            return;  // the simulator ended before it was ready
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
