#pragma once

#include "MediaSink.h"
#include "RtpDepacketizer.h"

#include <sys/time.h>

#include <string>
#include <vector>

class MediaSubsession;
class RtspDevice;

// Reads the NAL units of a video subsession and hands each one to the device's
// frame observers as an Annex B piece: start code in front, and the SDP's SPS and
// PPS before every IDR slice. Lives on the video thread; closed by the device
// when the stream or session ends. Buffers are allocated once or only grow.
class RtspDeviceSink final : public MediaSink {
public:
    // Largest NAL unit delivered: the largest unit the depacketizer assembles.
    // A unit that still arrives cut is dropped, never delivered.
    static constexpr unsigned kReceiveBufferSize = static_cast<unsigned>(RtpDepacketizer::kMaxUnitSize);

    static RtspDeviceSink* createNew(UsageEnvironment& env, MediaSubsession& subsession, RtspDevice* device,
                                     const char* spropParameterSets, const char* streamId);

    // "SPS,PPS" in base64 to 00 00 00 01 SPS 00 00 00 01 PPS (each further set
    // with a start code of its own); empty without a comma.
    static std::vector<unsigned char> DecodeSprops(const char* spropParameterSets);

    MediaSubsession& Subsession() const { return subsession_; }

    // Capacity of the output buffer (it only grows).
    size_t FrameBufferCapacity() const { return frameBuffer_.size(); }

    static void afterGettingFrame(void* clientData, unsigned frameSize, unsigned numTruncatedBytes,
                                  timeval presentationTime, unsigned durationInMicroseconds);

private:
    RtspDeviceSink(UsageEnvironment& env, MediaSubsession& subsession, RtspDevice* device,
                   const char* spropParameterSets, const char* streamId);
    ~RtspDeviceSink() override;

    bool continuePlaying() override;
    void afterGettingFrame(unsigned frameSize, unsigned numTruncatedBytes, timeval presentationTime,
                           unsigned durationInMicroseconds);

    // Reports (once) a stream whose SPS announces a picture beyond
    // kMaxPictureSide; from then on no unit is delivered.
    void CheckPictureSize(const unsigned char* sps, size_t size);

    unsigned char* receiveBuffer_ = nullptr;
    MediaSubsession& subsession_;
    char* streamId_ = nullptr;
    RtspDevice* device_ = nullptr; // not owned; may be null
    std::vector<unsigned char> spropsBuffer_;
    std::vector<unsigned char> frameBuffer_;
    bool pictureTooLarge_ = false;
};
