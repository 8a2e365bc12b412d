#include "RtspDeviceSink.h"

#include "FrameTypes.h"
#include "H264Sps.h"
#include "MediaSession.h"
#include "RtspDevice.h"
#include "TextUtils.h"
#include "StringUtils.h"

#include <easylogging++.h>

#include <algorithm>
#include <cassert>
#include <cstring>

namespace {

const unsigned char kStartCode[4] = {0x00, 0x00, 0x00, 0x01};
constexpr uint8_t kNalTypeSps = 7;
constexpr size_t kNalDumpBytes = 1500;
constexpr size_t kSpropsDumpBytes = 1000;

} // namespace

RtspDeviceSink* RtspDeviceSink::createNew(UsageEnvironment& env, MediaSubsession& subsession,
                                          RtspDevice* device, const char* spropParameterSets,
                                          const char* streamId)
{
    return new RtspDeviceSink(env, subsession, device, spropParameterSets, streamId);
}

RtspDeviceSink::RtspDeviceSink(UsageEnvironment& env, MediaSubsession& subsession, RtspDevice* device,
                               const char* spropParameterSets, const char* streamId)
    : MediaSink(env), receiveBuffer_(new unsigned char[kReceiveBufferSize]), subsession_(subsession),
      streamId_(strDup(streamId)), device_(device), spropsBuffer_(DecodeSprops(spropParameterSets))
{
    // The SPS of the SDP sits right behind the first start code.
    if (spropsBuffer_.size() > sizeof(kStartCode)) {
        CheckPictureSize(spropsBuffer_.data() + sizeof(kStartCode),
                         spropsBuffer_.size() - sizeof(kStartCode));
    }
}

void RtspDeviceSink::CheckPictureSize(const unsigned char* sps, size_t size)
{
    H264PictureSize picture;
    if (pictureTooLarge_ || !ParseSpsPictureSize(sps, size, picture) ||
        (picture.width <= kMaxPictureSide && picture.height <= kMaxPictureSide)) {
        return;
    }
    // Decoding would allocate for the announced size: stop before that.
    pictureTooLarge_ = true;
    const std::string text = "The stream's picture size " + std::to_string(picture.width) + "x" +
                             std::to_string(picture.height) + " exceeds the largest supported size " +
                             std::to_string(kMaxPictureSide) + "x" + std::to_string(kMaxPictureSide);
    LOG(ERROR) << text;
    if (device_ != nullptr) {
        device_->ReportFinalError(text);
    }
}

RtspDeviceSink::~RtspDeviceSink()
{
    stopPlaying(); // the source must not write into the buffer released below
    delete[] receiveBuffer_;
    delete[] streamId_;
}

std::vector<unsigned char> RtspDeviceSink::DecodeSprops(const char* spropParameterSets)
{
    const std::string text = spropParameterSets != nullptr ? spropParameterSets : "";
    const size_t comma = text.find(',');
    if (comma == std::string::npos) {
        return {};
    }
    const std::vector<unsigned char> sps = base64Decode(text.substr(0, comma).c_str(), false);
    // The second set is the PPS. Further sets (a second PPS, an SEI) each get a
    // start code of their own rather than being decoded into the PPS bytes.
    std::vector<unsigned char> pps;
    std::vector<unsigned char> result;
    result.insert(result.end(), kStartCode, kStartCode + 4);
    result.insert(result.end(), sps.begin(), sps.end());
    size_t start = comma + 1;
    for (bool first = true;; first = false) {
        const size_t next = text.find(',', start);
        const std::vector<unsigned char> set = base64Decode(
            text.substr(start, next == std::string::npos ? std::string::npos : next - start).c_str(), false);
        if (first || !set.empty()) {
            result.insert(result.end(), kStartCode, kStartCode + 4);
            result.insert(result.end(), set.begin(), set.end());
            pps.insert(pps.end(), set.begin(), set.end());
        }
        if (next == std::string::npos) {
            break;
        }
        start = next + 1;
    }
    const auto hex = [](const std::vector<unsigned char>& bytes) {
        return utils::GetPrintedBufferInHex(bytes.data(), bytes.size(), kSpropsDumpBytes, " ");
    };
    VLOG(1) << "Decoding SPROPS. Original parameter (base64): " << text << "; decoded sps_data ["
            << sps.size() << "]: " << hex(sps) << "; decoded pps_data [" << pps.size() << "]: " << hex(pps)
            << "; result buffer [" << result.size() << "]: " << hex(result);
    return result;
}

bool RtspDeviceSink::continuePlaying()
{
    if (fSource == nullptr) {
        return false;
    }
    fSource->getNextFrame(receiveBuffer_, kReceiveBufferSize, afterGettingFrame, this, onSourceClosure, this);
    return true;
}

void RtspDeviceSink::afterGettingFrame(void* clientData, unsigned frameSize, unsigned numTruncatedBytes,
                                       timeval presentationTime, unsigned durationInMicroseconds)
{
    static_cast<RtspDeviceSink*>(clientData)
        ->afterGettingFrame(frameSize, numTruncatedBytes, presentationTime, durationInMicroseconds);
}

void RtspDeviceSink::afterGettingFrame(unsigned frameSize, unsigned numTruncatedBytes,
                                       timeval presentationTime, unsigned /*durationInMicroseconds*/)
{
    const size_t n = std::min<size_t>(frameSize, kReceiveBufferSize);
    if (device_ != nullptr) {
        device_->UpdateLastUsedTime(MonotonicSeconds());
    }
    if (n > 0 && (receiveBuffer_[0] & 0x1F) == kNalTypeSps) {
        CheckPictureSize(receiveBuffer_, n);
    }
    if (pictureTooLarge_) {
        // Nothing more of this stream is handed on.
    } else if (numTruncatedBytes > 0) {
        // A cut unit would decode into a broken picture: leave it out.
        LOG(WARNING) << "NAL unit of " << static_cast<uint64_t>(n) + numTruncatedBytes
                     << " bytes exceeds the limit of " << kReceiveBufferSize << " bytes, dropped";
    } else if (device_ != nullptr) {
        kro::ImageDescr descriptor;
        descriptor.format = kro::MediaFormat::VideoH264;
        descriptor.timestamp = static_cast<int64_t>(presentationTime.tv_sec) * 1000000 +
                               static_cast<int64_t>(presentationTime.tv_usec);

        const kro::UnitKind kind = H264UnitKind(receiveBuffer_, n);
        const bool isKeyFrame = kro::IsKeyFrame(kind);
        const size_t minBufSize = n + sizeof(kStartCode) + (isKeyFrame ? spropsBuffer_.size() : 0);
        if (frameBuffer_.size() < minBufSize) {
            frameBuffer_.resize(minBufSize);
        }
        size_t bytesCopied = 0;
        if (isKeyFrame && !spropsBuffer_.empty()) {
            std::memcpy(frameBuffer_.data(), spropsBuffer_.data(), spropsBuffer_.size());
            bytesCopied += spropsBuffer_.size();
        }
        std::memcpy(frameBuffer_.data() + bytesCopied, kStartCode, sizeof(kStartCode));
        bytesCopied += sizeof(kStartCode);
        if (n > 0) {
            std::memcpy(frameBuffer_.data() + bytesCopied, receiveBuffer_, n);
        }
        bytesCopied += n;
        assert(bytesCopied == minBufSize);

        const FrameWrapper frame(frameBuffer_.data(), minBufSize, descriptor);
        const std::vector<IFrameObserver*> observers = device_->GetFrameObservers();
        VLOG(8) << "Will call NotifyDataReceived for observers, " << observers.size();
        for (IFrameObserver* observer : observers) {
            observer->NotifyDataReceived(&frame, kind);
        }

        const int level = isKeyFrame ? 6 : 8;
        if (VLOG_IS_ON(level)) {
            VLOG(level) << "NAL received, isKeyFrame: " << (isKeyFrame ? 1 : 0) << ", size: " << n
                        << ", first 1500 bytes: "
                        << utils::GetPrintedBufferInHex(receiveBuffer_, n, kNalDumpBytes, " ") << "\n\n";
        }
    }
    continuePlaying();
}
