#pragma once

#include <string>

class SimOptions;
struct DeviceSet;

// One served protocol of the simulator (UDP, HTTP, RTSP). main registers each
// part's options, starts every part on the shared devices once the command
// line is read, and stops them in reverse order on SIGINT/SIGTERM. A part runs
// its own thread(s): Start returns once it serves, Stop returns once its
// threads are joined.
class SimPart {
public:
    virtual ~SimPart() = default;
    virtual void RegisterOptions(SimOptions& options) = 0;
    virtual bool Start(DeviceSet& devices, std::string& error) = 0;
    virtual void Stop() = 0;
    // One line for the ready message, e.g. "udp 0.0.0.0:49076".
    virtual std::string Describe() const = 0;
};
