#pragma once

#include "DeviceWebServer.h"
#include "SimPart.h"

#include <memory>
#include <string>
#include <vector>

// The HTTP part of the simulator: one DeviceWebServer per device, each on its
// device's own address (or on --http-bind, with the port counted up per
// device), each serving that device's configuration. Every server runs on
// threads of its own; Stop joins them all.
class DeviceWebPart final : public SimPart {
public:
    DeviceWebPart() = default;
    ~DeviceWebPart() override;
    DeviceWebPart(const DeviceWebPart&) = delete;
    DeviceWebPart& operator=(const DeviceWebPart&) = delete;

    void RegisterOptions(SimOptions& options) override;
    bool Start(DeviceSet& devices, std::string& error) override;
    void Stop() override;
    std::string Describe() const override;

private:
    WebServerOptions options_;
    std::string bindAddress_;    // empty: each device's own address
    std::string sourcePassword_; // empty: the configuration's default
    std::string configText_;     // empty: the default configuration
    std::vector<std::unique_ptr<DeviceWebServer>> servers_;
    std::string firstAddress_;
};
