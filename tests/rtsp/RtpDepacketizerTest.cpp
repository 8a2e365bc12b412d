// H.264 depacketisation with reordering and loss, as the video source sees it.
#include "RtpDepacketizer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Packet(uint16_t seq, uint32_t timestamp, const Bytes& payload, uint32_t ssrc = 0x01020304)
{
    Bytes packet = {0x80,
                    96,
                    static_cast<uint8_t>(seq >> 8),
                    static_cast<uint8_t>(seq),
                    static_cast<uint8_t>(timestamp >> 24),
                    static_cast<uint8_t>(timestamp >> 16),
                    static_cast<uint8_t>(timestamp >> 8),
                    static_cast<uint8_t>(timestamp),
                    static_cast<uint8_t>(ssrc >> 24),
                    static_cast<uint8_t>(ssrc >> 16),
                    static_cast<uint8_t>(ssrc >> 8),
                    static_cast<uint8_t>(ssrc)};
    packet.insert(packet.end(), payload.begin(), payload.end());
    return packet;
}

Bytes Nal(uint8_t header, size_t size)
{
    Bytes nal(size);
    nal[0] = header;
    for (size_t i = 1; i < size; ++i) {
        nal[i] = static_cast<uint8_t>(i * 7);
    }
    return nal;
}

// FU-A pieces of `nal`, each carrying at most `piece` bytes of it.
std::vector<Bytes> Fragment(const Bytes& nal, size_t piece)
{
    std::vector<Bytes> fragments;
    const uint8_t indicator = static_cast<uint8_t>((nal[0] & 0xE0) | 28);
    for (size_t offset = 1; offset < nal.size(); offset += piece) {
        const size_t count = std::min(piece, nal.size() - offset);
        uint8_t header = nal[0] & 0x1F;
        if (offset == 1) {
            header |= 0x80;
        }
        if (offset + count == nal.size()) {
            header |= 0x40;
        }
        Bytes fu = {indicator, header};
        fu.insert(fu.end(), nal.begin() + static_cast<long>(offset),
                  nal.begin() + static_cast<long>(offset + count));
        fragments.push_back(fu);
    }
    return fragments;
}

struct Feeder {
    RtpDepacketizer depacketizer{RtpDepacketizer::Mode::H264, 96, 4};
    std::vector<RtpUnit> out;
    void Push(const Bytes& packet) { depacketizer.Push(packet.data(), packet.size(), out); }
};

TEST(RtpDepacketizerTest, SingleStapAAndFuAUnitsComeOutWhole)
{
    Feeder f;
    const Bytes sps = Nal(0x67, 20);
    const Bytes pps = Nal(0x68, 4);
    Bytes stap = {24};
    for (const Bytes* nal : {&sps, &pps}) {
        stap.push_back(static_cast<uint8_t>(nal->size() >> 8));
        stap.push_back(static_cast<uint8_t>(nal->size()));
        stap.insert(stap.end(), nal->begin(), nal->end());
    }
    const Bytes idr = Nal(0x65, 5000);
    const Bytes slice = Nal(0x41, 1200);
    uint16_t seq = 65533; // the sequence number wraps during the test
    f.Push(Packet(seq++, 9000, stap));
    for (const Bytes& piece : Fragment(idr, 1400)) {
        f.Push(Packet(seq++, 9000, piece));
    }
    f.Push(Packet(seq++, 12600, slice));

    ASSERT_EQ(f.out.size(), 4u);
    EXPECT_EQ(f.out[0].data, sps);
    EXPECT_EQ(f.out[1].data, pps);
    EXPECT_EQ(f.out[2].data, idr);
    EXPECT_EQ(f.out[2].rtpTimestamp, 9000u);
    EXPECT_EQ(f.out[3].data, slice);
    EXPECT_EQ(f.depacketizer.PacketsLost(), 0u);
    EXPECT_EQ(f.depacketizer.ExtendedHighestSequence(), (1u << 16) | static_cast<uint16_t>(seq - 1));
}

TEST(RtpDepacketizerTest, ReorderingWithinTheWindowIsUndone)
{
    Feeder f;
    const Bytes idr = Nal(0x65, 4000);
    std::vector<Bytes> packets;
    uint16_t seq = 100;
    for (const Bytes& piece : Fragment(idr, 1000)) {
        packets.push_back(Packet(seq++, 3000, piece));
    }
    packets.push_back(Packet(seq++, 6000, Nal(0x41, 300)));
    std::swap(packets[1], packets[2]);
    std::swap(packets[3], packets[4]);
    for (const Bytes& packet : packets) {
        f.Push(packet);
    }
    f.Push(packets[0]); // a duplicate of a packet already handled changes nothing
    ASSERT_EQ(f.out.size(), 2u);
    EXPECT_EQ(f.out[0].data, idr);
    EXPECT_EQ(f.out[1].data[0], 0x41);
    EXPECT_EQ(f.depacketizer.PacketsLost(), 0u);
}

TEST(RtpDepacketizerTest, AFragmentedUnitMissingAPieceIsDroppedWhole)
{
    Feeder f;
    const Bytes idr = Nal(0x65, 6000);
    const auto pieces = Fragment(idr, 1000);
    uint16_t seq = 7;
    for (size_t i = 0; i < pieces.size(); ++i) {
        if (i != 2) {
            f.Push(Packet(seq, 3000, pieces[i]));
        }
        ++seq;
    }
    // The units after the gap must still flow once the window gives up on it.
    const Bytes next = Nal(0x41, 500);
    for (int i = 0; i < 6; ++i) {
        f.Push(Packet(seq++, static_cast<uint32_t>(6000 + i), next));
    }
    for (const RtpUnit& unit : f.out) {
        EXPECT_NE(unit.data[0] & 0x1F, 5) << "a half-built IDR slice was delivered";
    }
    EXPECT_EQ(f.out.size(), 6u);
    EXPECT_EQ(f.depacketizer.PacketsLost(), 1u);
    EXPECT_EQ(f.depacketizer.UnitsDropped(), 1u);
}

TEST(RtpDepacketizerTest, LostStartOrEndAndMalformedPayloadsDeliverNothingBroken)
{
    Feeder f;
    const auto pieces = Fragment(Nal(0x65, 3000), 1000);
    f.Push(Packet(1, 10, pieces[1])); // no start seen: nothing to continue
    f.Push(Packet(2, 10, pieces[2]));
    // A new start while a unit is open drops the open one.
    f.Push(Packet(3, 20, pieces[0]));
    f.Push(Packet(4, 30, Fragment(Nal(0x65, 1500), 1000)[0]));
    f.Push(Packet(5, 30, Fragment(Nal(0x65, 1500), 1000)[1]));
    ASSERT_EQ(f.out.size(), 1u);
    EXPECT_EQ(f.out[0].data.size(), 1500u);

    f.out.clear();
    f.Push(Packet(6, 40, {24, 0x00, 0x09, 0x41})); // STAP-A length past the end
    f.Push(Packet(7, 40, {24, 0x00, 0x00}));       // zero length
    f.Push(Packet(8, 40, {28}));                   // FU-A without header
    f.Push(Packet(9, 40, {}));                     // empty payload
    f.Push(Packet(10, 40, {25, 1, 2, 3}));         // STAP-B: not used
    EXPECT_TRUE(f.out.empty());

    const Bytes tooShort = {0x80, 96, 0, 11};
    f.Push(tooShort);
    Bytes badPadding = Packet(11, 50, {0x41, 1, 2});
    badPadding[0] |= 0x20;
    badPadding.back() = 200;
    f.Push(badPadding);
    Bytes otherType = Packet(11, 50, {0x41, 1});
    otherType[1] = 97;
    f.Push(otherType);
    EXPECT_TRUE(f.out.empty());

    RtpHeader header;
    Bytes withExtension = Packet(1, 1, {0x41, 9});
    withExtension[0] |= 0x10 | 0x02; // extension and two CSRCs, without the bytes for them
    EXPECT_FALSE(ParseRtpHeader(withExtension.data(), withExtension.size(), header));
}

TEST(RtpDepacketizerTest, ANewSsrcOrAFarJumpStartsAfresh)
{
    Feeder f;
    f.Push(Packet(10, 1, Nal(0x41, 10)));
    f.Push(Packet(40000, 2, Nal(0x41, 11)));
    f.Push(Packet(40001, 3, Nal(0x41, 12), 0xAABBCCDD));
    f.Push(Packet(5, 4, Nal(0x41, 13), 0xAABBCCDD));
    ASSERT_EQ(f.out.size(), 4u);
    EXPECT_EQ(f.out[3].data.size(), 13u);
    EXPECT_EQ(f.depacketizer.Ssrc(), 0xAABBCCDDu);
}

} // namespace
