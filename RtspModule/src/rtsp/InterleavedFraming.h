#pragma once

#include "RtspResponse.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Splits the bytes of an RTSP connection into RTSP messages and the binary
// packets interleaved with them: "$", a channel byte, a 16-bit big-endian
// length and that many bytes. Bytes are appended as they are read; a message
// or packet cut between reads waits for the rest. Besides the bytes of the
// last Append, it keeps at most one incomplete message or packet, so its
// buffer is bounded by the message limits of RtspResponse.h. Once the stream
// cannot be split any more it stays invalid until Clear. Not thread-safe; no
// sockets.
class InterleavedFraming final {
public:
    enum class Result { NeedMore, Packet, Message, Invalid };

    // Largest payload a frame can announce.
    static constexpr size_t kMaxPacketSize = 0xFFFF;

    void Append(const char* data, size_t size);
    // Takes the next complete item off the front. Packet: Channel() and
    // Payload(), which stay valid until the next Next or Append (a Clear
    // meanwhile, by a receiver that closes the connection, keeps them).
    // Message: Message() and MessageText(). Invalid: Error() says why.
    Result Next();
    // Forgets every byte buffered (a new connection).
    void Clear();

    uint8_t Channel() const { return channel_; }
    const uint8_t* Payload() const { return packet_.data(); }
    size_t PayloadSize() const { return packet_.size(); }
    const RtspResponse& Message() const { return message_; }
    const std::string& MessageText() const { return messageText_; }
    const std::string& Error() const { return error_; }
    // Bytes received and not yet handed out.
    size_t BufferedBytes() const { return buffer_.size() - start_; }

private:
    Result Fail(const std::string& error);

    std::string buffer_;
    size_t start_ = 0; // bytes before this have been handed out
    RtspParseProgress progress_;
    uint8_t channel_ = 0;
    std::vector<uint8_t> packet_;
    RtspResponse message_;
    std::string messageText_;
    std::string error_; // non-empty once invalid
};
