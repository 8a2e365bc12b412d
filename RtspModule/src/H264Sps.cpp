#include "H264Sps.h"

#include <vector>

namespace {

constexpr uint8_t kNalTypeSps = 7;
// The size fields come within the first few hundred bytes even with scaling
// lists; a longer unit is read no further than this.
constexpr size_t kMaxSpsBytes = 1024;

// Reads bits of an RBSP; every read past the end fails the reader for good.
class BitReader {
public:
    explicit BitReader(const std::vector<uint8_t>& bytes) : bytes_(bytes) {}

    bool Ok() const { return ok_; }

    uint32_t Bit()
    {
        if (position_ >= bytes_.size() * 8) {
            ok_ = false;
            return 0;
        }
        const uint32_t bit = (bytes_[position_ / 8] >> (7 - position_ % 8)) & 1u;
        ++position_;
        return bit;
    }

    uint32_t Bits(int count)
    {
        uint32_t value = 0;
        for (int i = 0; i < count; ++i) {
            value = (value << 1) | Bit();
        }
        return value;
    }

    // Exp-Golomb ue(v); values beyond 32 bits fail the reader.
    uint32_t Ue()
    {
        int zeros = 0;
        while (ok_ && Bit() == 0) {
            if (++zeros > 31) {
                ok_ = false;
                return 0;
            }
        }
        if (!ok_) {
            return 0;
        }
        const uint64_t value = (uint64_t{1} << zeros) - 1 + Bits(zeros);
        if (value > UINT32_MAX) {
            ok_ = false;
            return 0;
        }
        return static_cast<uint32_t>(value);
    }

    // Exp-Golomb se(v); wide enough for every 32-bit code (up to 2^31 either way).
    int64_t Se()
    {
        const uint32_t code = Ue();
        const int64_t magnitude = (int64_t{code} + 1) / 2;
        return (code & 1u) != 0 ? magnitude : -magnitude;
    }

private:
    const std::vector<uint8_t>& bytes_;
    size_t position_ = 0;
    bool ok_ = true;
};

// False on a delta_scale outside -128..127, which no valid SPS carries.
bool SkipScalingList(BitReader& bits, int size)
{
    int64_t last = 8;
    int64_t next = 8;
    for (int j = 0; j < size && bits.Ok(); ++j) {
        if (next != 0) {
            const int64_t delta = bits.Se();
            if (delta < -128 || delta > 127) {
                return false;
            }
            next = (last + delta + 256) % 256;
        }
        last = next == 0 ? last : next;
    }
    return true;
}

bool HasChromaFormat(uint32_t profile)
{
    switch (profile) {
    case 100:
    case 110:
    case 122:
    case 244:
    case 44:
    case 83:
    case 86:
    case 118:
    case 128:
    case 138:
    case 139:
    case 134:
    case 135:
        return true;
    default:
        return false;
    }
}

} // namespace

bool ParseSpsPictureSize(const uint8_t* nal, size_t size, H264PictureSize& picture)
{
    if (nal == nullptr || size < 2 || (nal[0] & 0x1F) != kNalTypeSps) {
        return false;
    }
    // The RBSP: the payload without the emulation prevention bytes.
    std::vector<uint8_t> rbsp;
    const size_t end = size < kMaxSpsBytes ? size : kMaxSpsBytes;
    rbsp.reserve(end);
    int zeros = 0;
    for (size_t i = 1; i < end; ++i) {
        if (zeros >= 2 && nal[i] == 3) {
            zeros = 0;
            continue;
        }
        zeros = nal[i] == 0 ? zeros + 1 : 0;
        rbsp.push_back(nal[i]);
    }

    BitReader bits(rbsp);
    const uint32_t profile = bits.Bits(8);
    bits.Bits(16); // constraint flags, level
    bits.Ue();     // seq_parameter_set_id
    if (HasChromaFormat(profile)) {
        const uint32_t chromaFormat = bits.Ue();
        if (chromaFormat == 3) {
            bits.Bit(); // separate_colour_plane_flag
        }
        bits.Ue();  // bit_depth_luma_minus8
        bits.Ue();  // bit_depth_chroma_minus8
        bits.Bit(); // qpprime_y_zero_transform_bypass_flag
        if (bits.Bit() != 0) {
            const int lists = chromaFormat != 3 ? 8 : 12;
            for (int i = 0; i < lists && bits.Ok(); ++i) {
                if (bits.Bit() != 0 && !SkipScalingList(bits, i < 6 ? 16 : 64)) {
                    return false;
                }
            }
        }
    }
    bits.Ue(); // log2_max_frame_num_minus4
    const uint32_t pocType = bits.Ue();
    if (pocType == 0) {
        bits.Ue(); // log2_max_pic_order_cnt_lsb_minus4
    } else if (pocType == 1) {
        bits.Bit(); // delta_pic_order_always_zero_flag
        bits.Se();  // offset_for_non_ref_pic
        bits.Se();  // offset_for_top_to_bottom_field
        const uint32_t cycle = bits.Ue();
        if (cycle > 255) {
            return false;
        }
        for (uint32_t i = 0; i < cycle && bits.Ok(); ++i) {
            bits.Se();
        }
    }
    bits.Ue();  // max_num_ref_frames
    bits.Bit(); // gaps_in_frame_num_value_allowed_flag
    const uint64_t widthInMbs = uint64_t{bits.Ue()} + 1;
    const uint64_t heightInMapUnits = uint64_t{bits.Ue()} + 1;
    const uint32_t frameMbsOnly = bits.Bit();
    if (!bits.Ok()) {
        return false;
    }
    const uint64_t width = widthInMbs * 16;
    const uint64_t height = heightInMapUnits * 16 * (frameMbsOnly != 0 ? 1 : 2);
    picture.width = width > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(width);
    picture.height = height > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(height);
    return true;
}

kro::UnitKind H264UnitKind(const uint8_t* nal, size_t size)
{
    constexpr uint8_t kSlice = 1;
    constexpr uint8_t kIdr = 5;
    constexpr uint8_t kSps = 7;
    constexpr uint8_t kPps = 8;
    if (size == 0) {
        return kro::UnitKind::Other;
    }
    const uint8_t type = nal[0] & 0x1F;
    if (type == kSps || type == kPps) {
        return kro::UnitKind::ParameterSet;
    }
    if (type != kSlice && type != kIdr) {
        return kro::UnitKind::Other;
    }
    const bool first = size > 1 && (nal[1] & 0x80) != 0;
    if (type == kIdr) {
        return first ? kro::UnitKind::KeyFrame : kro::UnitKind::KeyFrameSlice;
    }
    return first ? kro::UnitKind::Picture : kro::UnitKind::PictureSlice;
}
