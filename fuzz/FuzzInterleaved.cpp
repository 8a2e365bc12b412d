// The split of an RTSP connection's bytes into messages and interleaved
// packets. Input: pieces of "length byte L, L + 1 bytes" (the last one cut to
// what is left); each piece is one read of the connection.
#include "InterleavedFraming.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    InterleavedFraming framing;
    size_t offset = 0;
    bool invalid = false;
    while (offset < size) {
        const size_t length = std::min<size_t>(static_cast<size_t>(data[offset]) + 1, size - offset - 1);
        ++offset;
        // Copied, so that a read past the piece is caught even inside the input.
        const std::vector<char> piece(data + offset, data + offset + length);
        offset += length;
        framing.Append(piece.data(), piece.size());
        for (;;) {
            const InterleavedFraming::Result result = framing.Next();
            if (result == InterleavedFraming::Result::Packet) {
                const std::vector<uint8_t> payload(framing.Payload(),
                                                   framing.Payload() + framing.PayloadSize());
                if (payload.size() > InterleavedFraming::kMaxPacketSize) {
                    std::abort();
                }
            } else if (result == InterleavedFraming::Result::Message) {
                if (framing.MessageText().empty()) {
                    std::abort();
                }
            } else {
                invalid = invalid || result == InterleavedFraming::Result::Invalid;
                break;
            }
        }
        // At most one incomplete message is kept; nothing once the stream is lost.
        if (framing.BufferedBytes() > kMaxRtspHeaderBytes + kMaxRtspBodyBytes ||
            (invalid && framing.BufferedBytes() != 0)) {
            std::abort();
        }
    }
    return 0;
}
