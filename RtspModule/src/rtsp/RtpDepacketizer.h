#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

// Fixed RTP header fields (RFC 3550) and where the payload lies in the datagram.
struct RtpHeader {
    bool marker = false;
    uint8_t payloadType = 0;
    uint16_t sequenceNumber = 0;
    uint32_t timestamp = 0;
    uint32_t ssrc = 0;
    size_t payloadOffset = 0;
    size_t payloadSize = 0;
};

// Validates version, CSRC list, header extension and padding against `size`.
bool ParseRtpHeader(const uint8_t* data, size_t size, RtpHeader& header);

// One unit handed out: an H.264 NAL unit without start code, or a raw payload.
struct RtpUnit {
    std::vector<uint8_t> data;
    uint32_t rtpTimestamp = 0;
};

// Turns the RTP datagrams of one stream into units, in sequence order. Packets
// are held in a small window to undo reordering; when the window overflows the
// missing packets count as lost. H.264 (RFC 6184): single NAL units, STAP-A and
// FU-A; a fragmented unit that lost a piece is dropped whole. Other payloads are
// handed out one per packet. Not thread-safe; no sockets.
class RtpDepacketizer {
public:
    enum class Mode { H264, Raw };

    // Bound on one reassembled unit; bigger ones are dropped, not grown without limit.
    static constexpr size_t kMaxUnitSize = 4 * 1024 * 1024;

    explicit RtpDepacketizer(Mode mode, unsigned payloadType = 0xFF, size_t reorderWindow = 16);

    // Feeds one datagram; units it completes are appended to `out`. Datagrams that
    // are not RTP, or of another payload type when one was given, are ignored.
    void Push(const uint8_t* data, size_t size, std::vector<RtpUnit>& out);

    // Hands out what the window still holds, counting gaps as loss.
    void Flush(std::vector<RtpUnit>& out);

    bool HasPending() const { return !pending_.empty(); }
    bool HasSsrc() const { return started_; }
    uint32_t Ssrc() const { return ssrc_; }
    uint32_t ExtendedHighestSequence() const { return (cycles_ << 16) | highestSeq_; }
    uint32_t BaseSequence() const { return baseSeq_; }
    uint64_t PacketsReceived() const { return packetsReceived_; }
    uint64_t PacketsLost() const { return packetsLost_; }
    uint64_t UnitsDropped() const { return unitsDropped_; }

private:
    void ProcessInOrder(const std::vector<uint8_t>& packet, bool lossBefore, std::vector<RtpUnit>& out);
    void ProcessH264(const uint8_t* payload, size_t size, uint32_t timestamp, bool lossBefore,
                     std::vector<RtpUnit>& out);
    void DrainPending(std::vector<RtpUnit>& out);
    void SkipToOldestPending(std::vector<RtpUnit>& out);
    void NoteSequence(uint16_t seq);
    void DropFragment();

    Mode mode_;
    unsigned payloadType_;
    size_t reorderWindow_;
    bool started_ = false;
    uint32_t ssrc_ = 0;
    uint16_t expectedSeq_ = 0;
    std::map<uint16_t, std::vector<uint8_t>> pending_; // packets ahead of expectedSeq_
    bool lossPending_ = false;                         // a gap was skipped before the next packet

    bool inFragment_ = false;
    std::vector<uint8_t> fragment_;
    uint32_t fragmentTimestamp_ = 0;

    bool seqStarted_ = false;
    uint16_t highestSeq_ = 0;
    uint32_t cycles_ = 0;
    uint32_t baseSeq_ = 0;
    uint64_t packetsReceived_ = 0;
    uint64_t packetsLost_ = 0;
    uint64_t unitsDropped_ = 0;
};
