#pragma once

#include "IErrorHandler.h"

#include <string>

// Stops a device on the first error it reports and keeps the text for the
// owner to show once the video thread has been joined. ErrorOccured runs on
// the video thread; GetLastError is read on the GUI thread only after the
// join, so the text needs no lock. One per connection: its owner makes it
// with the device and releases it with the device.
class RtspDeviceStopOnErrorHandler final : public IErrorHandler {
public:
    void ErrorOccured(RtspDevice* device, const std::string& text) override;
    std::string GetLastError() const override;

private:
    std::string lastError_;
};
