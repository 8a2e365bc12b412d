#include "RtpDepacketizer.h"

#include <cstdlib>

namespace {

constexpr uint8_t kStapA = 24;
constexpr uint8_t kFuA = 28;
// A jump this far from the expected sequence number is a new stream, not reordering.
constexpr int kResyncDistance = 3000;

uint16_t Read16(const uint8_t* p)
{
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

uint32_t Read32(const uint8_t* p)
{
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | p[3];
}

int SeqDistance(uint16_t from, uint16_t to)
{
    return static_cast<int16_t>(static_cast<uint16_t>(to - from));
}

} // namespace

bool ParseRtpHeader(const uint8_t* data, size_t size, RtpHeader& header)
{
    if (data == nullptr || size < 12 || (data[0] >> 6) != 2) {
        return false;
    }
    const bool padding = (data[0] & 0x20) != 0;
    const bool extension = (data[0] & 0x10) != 0;
    const size_t csrcCount = data[0] & 0x0F;
    size_t offset = 12 + 4 * csrcCount;
    if (offset > size) {
        return false;
    }
    if (extension) {
        if (offset + 4 > size) {
            return false;
        }
        const size_t extensionWords = Read16(data + offset + 2);
        offset += 4 + 4 * extensionWords;
        if (offset > size) {
            return false;
        }
    }
    size_t end = size;
    if (padding) {
        const size_t padCount = data[size - 1];
        if (padCount == 0 || padCount > end - offset) {
            return false;
        }
        end -= padCount;
    }
    header.marker = (data[1] & 0x80) != 0;
    header.payloadType = data[1] & 0x7F;
    header.sequenceNumber = Read16(data + 2);
    header.timestamp = Read32(data + 4);
    header.ssrc = Read32(data + 8);
    header.payloadOffset = offset;
    header.payloadSize = end - offset;
    return true;
}

RtpDepacketizer::RtpDepacketizer(Mode mode, unsigned payloadType, size_t reorderWindow)
    : mode_(mode), payloadType_(payloadType), reorderWindow_(reorderWindow == 0 ? 1 : reorderWindow)
{
}

void RtpDepacketizer::NoteSequence(uint16_t seq)
{
    ++packetsReceived_;
    if (!seqStarted_) {
        seqStarted_ = true;
        highestSeq_ = seq;
        baseSeq_ = seq;
        return;
    }
    const int distance = SeqDistance(highestSeq_, seq);
    if (distance > 0) {
        if (seq < highestSeq_) {
            ++cycles_;
        }
        highestSeq_ = seq;
    }
}

void RtpDepacketizer::Push(const uint8_t* data, size_t size, std::vector<RtpUnit>& out)
{
    RtpHeader header;
    if (!ParseRtpHeader(data, size, header)) {
        return;
    }
    if (payloadType_ <= 127 && header.payloadType != payloadType_) {
        return;
    }
    const uint16_t seq = header.sequenceNumber;
    if (!started_ || header.ssrc != ssrc_) {
        // First packet, or the sender restarted with a new SSRC: begin afresh.
        if (started_) {
            Flush(out);
            DropFragment();
        }
        started_ = true;
        ssrc_ = header.ssrc;
        expectedSeq_ = seq;
    }
    int distance = SeqDistance(expectedSeq_, seq);
    if (distance < -kResyncDistance || distance > kResyncDistance) {
        Flush(out);
        DropFragment();
        lossPending_ = true;
        expectedSeq_ = seq;
        distance = 0;
    }
    if (distance < 0) {
        return; // late or duplicate: its place has passed
    }
    NoteSequence(seq);
    std::vector<uint8_t> packet(data, data + size);
    if (distance > 0) {
        pending_.emplace(seq, std::move(packet));
        if (pending_.size() > reorderWindow_) {
            SkipToOldestPending(out);
        }
        return;
    }
    const bool loss = lossPending_;
    lossPending_ = false;
    ++expectedSeq_;
    ProcessInOrder(packet, loss, out);
    DrainPending(out);
}

void RtpDepacketizer::SkipToOldestPending(std::vector<RtpUnit>& out)
{
    if (pending_.empty()) {
        return;
    }
    uint16_t oldest = pending_.begin()->first;
    int oldestDistance = SeqDistance(expectedSeq_, oldest);
    for (const auto& entry : pending_) {
        const int d = SeqDistance(expectedSeq_, entry.first);
        if (d < oldestDistance) {
            oldest = entry.first;
            oldestDistance = d;
        }
    }
    packetsLost_ += static_cast<uint64_t>(oldestDistance);
    expectedSeq_ = oldest;
    lossPending_ = true;
    DrainPending(out);
}

void RtpDepacketizer::DrainPending(std::vector<RtpUnit>& out)
{
    for (auto it = pending_.find(expectedSeq_); it != pending_.end(); it = pending_.find(expectedSeq_)) {
        const std::vector<uint8_t> packet = std::move(it->second);
        pending_.erase(it);
        const bool loss = lossPending_;
        lossPending_ = false;
        ++expectedSeq_;
        ProcessInOrder(packet, loss, out);
    }
}

void RtpDepacketizer::Flush(std::vector<RtpUnit>& out)
{
    while (!pending_.empty()) {
        SkipToOldestPending(out);
    }
}

void RtpDepacketizer::DropFragment()
{
    if (inFragment_) {
        ++unitsDropped_;
    }
    inFragment_ = false;
    fragment_.clear();
}

void RtpDepacketizer::ProcessInOrder(const std::vector<uint8_t>& packet, bool lossBefore,
                                     std::vector<RtpUnit>& out)
{
    RtpHeader header;
    if (!ParseRtpHeader(packet.data(), packet.size(), header)) {
        return;
    }
    const uint8_t* payload = packet.data() + header.payloadOffset;
    if (mode_ == Mode::Raw) {
        if (header.payloadSize > 0) {
            out.push_back(
                RtpUnit{std::vector<uint8_t>(payload, payload + header.payloadSize), header.timestamp});
        }
        return;
    }
    ProcessH264(payload, header.payloadSize, header.timestamp, lossBefore, out);
}

void RtpDepacketizer::ProcessH264(const uint8_t* payload, size_t size, uint32_t timestamp, bool lossBefore,
                                  std::vector<RtpUnit>& out)
{
    if (lossBefore) {
        DropFragment();
    }
    if (size == 0) {
        return;
    }
    const uint8_t nalType = payload[0] & 0x1F;
    if (nalType >= 1 && nalType <= 23) {
        DropFragment(); // a fragment cannot continue after a whole unit
        out.push_back(RtpUnit{std::vector<uint8_t>(payload, payload + size), timestamp});
        return;
    }
    if (nalType == kStapA) {
        DropFragment();
        size_t offset = 1;
        while (offset + 2 <= size) {
            const size_t length = Read16(payload + offset);
            offset += 2;
            if (length == 0 || length > size - offset) {
                ++unitsDropped_; // malformed aggregate: keep what was whole, drop the rest
                break;
            }
            out.push_back(
                RtpUnit{std::vector<uint8_t>(payload + offset, payload + offset + length), timestamp});
            offset += length;
        }
        return;
    }
    if (nalType == kFuA) {
        if (size < 2) {
            DropFragment();
            return;
        }
        const uint8_t fuHeader = payload[1];
        const bool start = (fuHeader & 0x80) != 0;
        const bool end = (fuHeader & 0x40) != 0;
        if (start) {
            DropFragment();
            inFragment_ = true;
            fragmentTimestamp_ = timestamp;
            fragment_.push_back(static_cast<uint8_t>((payload[0] & 0xE0) | (fuHeader & 0x1F)));
        } else if (!inFragment_) {
            return; // the start of this unit was lost
        } else if (timestamp != fragmentTimestamp_) {
            DropFragment();
            return;
        }
        if (fragment_.size() + (size - 2) > kMaxUnitSize) {
            DropFragment();
            return;
        }
        fragment_.insert(fragment_.end(), payload + 2, payload + size);
        if (end) {
            out.push_back(RtpUnit{std::move(fragment_), fragmentTimestamp_});
            fragment_.clear();
            inFragment_ = false;
        }
        return;
    }
    // STAP-B, MTAP, FU-B and reserved types are not used by the devices.
    DropFragment();
    ++unitsDropped_;
}
