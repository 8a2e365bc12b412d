// The sink's framing of NAL units, with the parameter sets of the SDP and the
// picture size of every SPS (in the SDP and in the stream). Input: the
// "sprop-parameter-sets" text up to the first newline, then NAL units, each
// as a two-byte big-endian length and its bytes (cut to what is left).
#include "FrameTypes.h"
#include "FramedSource.h"
#include "H264Sps.h"
#include "MediaSession.h"
#include "RtspDevice.h"
#include "RtspDeviceSink.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

class FeedSource final : public FramedSource {
public:
    static FeedSource* createNew(UsageEnvironment& env) { return new FeedSource(env); }
    void Feed(const uint8_t* unit, size_t size)
    {
        if (!isCurrentlyAwaitingData()) {
            return;
        }
        fFrameSize = static_cast<unsigned>(std::min<size_t>(size, fMaxSize));
        fNumTruncatedBytes = static_cast<unsigned>(size - fFrameSize);
        std::memcpy(fTo, unit, fFrameSize);
        afterGetting(this);
    }

private:
    explicit FeedSource(UsageEnvironment& env) : FramedSource(env) {}
    void doGetNextFrame() override {}
};

class CheckingObserver final : public IFrameObserver {
public:
    unsigned checksum = 0;
    void NotifyDataReceived(const kro::IVideoFrame* frame, kro::UnitKind) override
    {
        // Every byte handed on is read, so a frame that runs past its
        // buffer shows; each frame has at least its start code.
        const auto* bytes = static_cast<const uint8_t*>(frame->getData());
        unsigned sum = 0;
        for (uint64_t i = 0; i < frame->getSize(); ++i) {
            sum += bytes[i];
        }
        checksum += sum;
        if (frame->getSize() < 4) {
            std::abort();
        }
    }
};

class IgnoringHandler final : public IErrorHandler {
public:
    void ErrorOccured(RtspDevice*, const std::string&) override {}
    std::string GetLastError() const override { return {}; }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0) {
        return 0;
    }
    const auto* newline = static_cast<const uint8_t*>(std::memchr(data, '\n', size));
    const size_t textSize = newline != nullptr ? static_cast<size_t>(newline - data) : size;
    const std::string sprops(reinterpret_cast<const char*>(data), textSize);
    static RtspDevice device("rtsp://127.0.0.1:9/ch0", "root", "vbnq", 0, nullptr, 0);
    static CheckingObserver observer;
    static IgnoringHandler handler;
    device.AddFrameObserver(&observer);
    device.SetErrorHandler(&handler);
    MediaSession* session =
        MediaSession::createNew(device.envir(), "v=0\r\nm=video 0 RTP/AVP 96\r\na=rtpmap:96 H264/90000\r\n");
    FeedSource* source = FeedSource::createNew(device.envir());
    RtspDeviceSink* sink = RtspDeviceSink::createNew(
        device.envir(), *MediaSubsessionIterator(*session).next(), &device, sprops.c_str(), "fuzz");
    sink->startPlaying(*source, nullptr, nullptr);
    size_t offset = textSize + 1;
    while (offset + 2 <= size) {
        const size_t length =
            std::min<size_t>((size_t{data[offset]} << 8) | data[offset + 1], size - offset - 2);
        offset += 2;
        H264PictureSize picture;
        ParseSpsPictureSize(data + offset, length, picture);
        source->Feed(data + offset, length);
        offset += length;
    }
    Medium::close(sink);
    Medium::close(source);
    Medium::close(session);
    return 0;
}
