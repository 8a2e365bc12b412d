#include "InterleavedFraming.h"

namespace {

constexpr size_t kFrameHeaderSize = 4; // '$', channel, 16-bit length

// A message starts with "RTSP/" (a response) or a method name (a request
// from the server); anything else means the framing has been lost, for
// example after a packet whose length was wrong.
bool CanStartMessage(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

} // namespace

void InterleavedFraming::Append(const char* data, size_t size)
{
    if (!error_.empty()) {
        return;
    }
    if (start_ > 0) {
        buffer_.erase(0, start_);
        start_ = 0;
    }
    buffer_.append(data, size);
}

void InterleavedFraming::Clear()
{
    buffer_.clear();
    start_ = 0;
    progress_ = RtspParseProgress();
    error_.clear();
}

InterleavedFraming::Result InterleavedFraming::Fail(const std::string& error)
{
    error_ = error;
    buffer_.clear();
    start_ = 0;
    return Result::Invalid;
}

InterleavedFraming::Result InterleavedFraming::Next()
{
    if (!error_.empty()) {
        return Result::Invalid;
    }
    while (start_ < buffer_.size()) {
        const char first = buffer_[start_];
        if (first == '\r' || first == '\n') {
            // Line ends between messages (some servers end a body with one more).
            const size_t next = buffer_.find_first_not_of("\r\n", start_);
            start_ = next == std::string::npos ? buffer_.size() : next;
            progress_ = RtspParseProgress();
            continue;
        }
        const size_t available = buffer_.size() - start_;
        if (first == '$') {
            if (available < kFrameHeaderSize) {
                return Result::NeedMore;
            }
            const auto* header = reinterpret_cast<const uint8_t*>(buffer_.data() + start_);
            const size_t length = (static_cast<size_t>(header[2]) << 8) | header[3];
            if (available < kFrameHeaderSize + length) {
                return Result::NeedMore;
            }
            channel_ = header[1];
            packet_.assign(header + kFrameHeaderSize, header + kFrameHeaderSize + length);
            start_ += kFrameHeaderSize + length;
            return Result::Packet;
        }
        if (!CanStartMessage(first)) {
            return Fail("Received data that is neither an RTSP message nor an interleaved packet");
        }
        size_t consumed = 0;
        const RtspParseResult result =
            ParseRtspResponse(buffer_.data() + start_, available, message_, consumed, &progress_);
        if (result == RtspParseResult::Incomplete) {
            return Result::NeedMore;
        }
        if (result == RtspParseResult::Invalid) {
            return Fail("Received an invalid RTSP response");
        }
        messageText_.assign(buffer_, start_, consumed);
        start_ += consumed;
        progress_ = RtspParseProgress();
        return Result::Message;
    }
    return Result::NeedMore;
}
