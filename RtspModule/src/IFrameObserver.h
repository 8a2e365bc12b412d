#pragma once

#include "FrameTypes.h"

// Receives every frame of an RTSP device, on the device's video thread. The frame
// is valid only during the call: copy what must outlive it, and return quickly.
// `kind` is what the unit is, as the sink found while framing it.
class IFrameObserver {
public:
    virtual ~IFrameObserver() = default;
    virtual void NotifyDataReceived(const kro::IVideoFrame* frame, kro::UnitKind kind) = 0;
};
