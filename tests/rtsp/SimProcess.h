#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

// One qel-device-sim run in a device namespace of the virtual LAN, started
// through scripts/virtual-lan. The constructor waits for the ready line; the
// destructor ends the process (SIGTERM, then waits). It ends by itself after a
// bounded time anyway, so a crashed test leaves nothing running for long.
// Only the RTSP part of the simulator runs.
class SimProcess final {
public:
    SimProcess(const std::string& deviceNamespace, const std::vector<std::string>& arguments,
               int runSeconds = 240);
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    bool IsReady() const { return ready_; }
    // The virtual LAN has no such namespace (fewer devices than the tests need).
    bool NamespaceMissing() const { return namespaceMissing_; }
    const std::string& Output() const { return output_; }

    // QEL_SIM and QEL_SOURCE_DIR are set where the tests may use the LAN.
    static bool Available();

private:
    pid_t pid_ = -1;
    int stdoutFd_ = -1;
    bool ready_ = false;
    bool namespaceMissing_ = false;
    std::string output_;
};
