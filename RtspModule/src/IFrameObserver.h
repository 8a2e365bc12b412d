#pragma once

#include "FrameTypes.h"

// Receives every frame of an RTSP device, on the device's video thread. The frame
// is valid only during the call: copy what must outlive it, and return quickly.
class IFrameObserver {
public:
    virtual ~IFrameObserver() = default;
    virtual void NotifyDataReceived(const kro::IVideoFrame* frame, bool isKeyFrame) = 0;
};
