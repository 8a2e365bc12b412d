// RTP and RTCP datagrams. The input is a sequence of datagrams, each preceded
// by a two-byte length; the first byte chooses H.264 or raw depacketising, and
// every datagram is also read as RTCP.
#include "RtcpInstance.h"
#include "RtpDepacketizer.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1) {
        return 0;
    }
    const bool h264 = (data[0] & 1) == 0;
    RtpDepacketizer depacketizer(h264 ? RtpDepacketizer::Mode::H264 : RtpDepacketizer::Mode::Raw,
                                 (data[0] & 2) != 0 ? 96u : 0xFFu, 1 + (data[0] >> 4));
    std::vector<RtpUnit> units;
    size_t offset = 1;
    while (offset + 2 <= size) {
        const size_t length =
            std::min<size_t>((static_cast<size_t>(data[offset]) << 8) | data[offset + 1], size - offset - 2);
        const uint8_t* datagram = data + offset + 2;
        // Copied so that a read past the datagram is caught even inside the input.
        const std::vector<uint8_t> copy(datagram, datagram + length);
        depacketizer.Push(copy.data(), copy.size(), units);
        RtcpPacketInfo info;
        ParseRtcpCompound(copy.data(), copy.size(), info);
        offset += 2 + length;
    }
    depacketizer.Flush(units);
    for (const RtpUnit& unit : units) {
        if (unit.data.size() > RtpDepacketizer::kMaxUnitSize || (h264 && unit.data.empty())) {
            std::abort();
        }
    }
    return 0;
}
