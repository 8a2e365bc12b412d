#pragma once

#include <string>

class RtspDevice;

// Receives the fatal error texts of an RTSP device, on its video thread. Owned by
// whoever installs it; it must outlive the device's use of it.
class IErrorHandler {
public:
    virtual ~IErrorHandler() = default;
    virtual void ErrorOccured(RtspDevice* device, const std::string& text) = 0;
    virtual std::string GetLastError() const = 0;
};
