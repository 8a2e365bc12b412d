#include "RtspDeviceStopOnErrorHandler.h"

#include "RtspDevice.h"

#include <easylogging++.h>

void RtspDeviceStopOnErrorHandler::ErrorOccured(RtspDevice* device, const std::string& text)
{
    lastError_ = text;
    device->SetStopFlag();
    VLOG(1) << "Error occured: " << text;
}

std::string RtspDeviceStopOnErrorHandler::GetLastError() const
{
    return lastError_;
}
