#pragma once

#include "RtspStreamServer.h"
#include "SimPart.h"

#include <memory>
#include <string>
#include <vector>

// The RTSP part of the simulator: one RtspStreamServer per device (the first
// --rtsp-devices of them), each on its device's own address (or on --rtsp-bind,
// with the port counted up per device). Stop joins every server's thread.
class DeviceRtspPart final : public SimPart {
public:
    DeviceRtspPart() = default;
    ~DeviceRtspPart() override;
    DeviceRtspPart(const DeviceRtspPart&) = delete;
    DeviceRtspPart& operator=(const DeviceRtspPart&) = delete;

    void RegisterOptions(SimOptions& options) override;
    bool Start(DeviceSet& devices, std::string& error) override;
    void Stop() override;
    std::string Describe() const override;

private:
    RtspStreamOptions options_;
    std::string bindAddress_;  // empty: each device's own address
    uint64_t maxDevices_ = 16; // a search test with a thousand devices needs no video
    bool off_ = false;
    std::vector<std::unique_ptr<RtspStreamServer>> servers_;
};
