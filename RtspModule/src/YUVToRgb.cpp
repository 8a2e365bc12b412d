#include "YUVToRgb.h"

#include <algorithm>
#include <cstring>

// The fast row conversion works in 32-bit fixed point with 20 fractional bits
// and must give the very bytes of the double-precision formula. Why it does:
//
// Every channel of the formula is exactly N / 1000 for an integer N (the
// coefficients have three decimals), so its fraction is either 0 or at least
// 0.001 = 1048.6 units of 2^-20 away from the next integer. The rounded
// coefficients below make the fixed-point sum differ from N / 1000 * 2^20 by
// at most -176 .. +72 units over the whole input range; with kBias added the
// error is 80 .. 328 units, always positive and far below 1048. So the
// integer part of the fixed-point value is floor(N / 1000) exactly, and its
// fraction is below kIntegralMark exactly when N / 1000 is an integer.
//
// floor and truncation toward zero differ only below zero, where both clamp
// to 0. The double formula itself can land an ulp below an exact integer
// k and truncate to k - 1; that matters only for k in 1..255, so those pixels
// (a few per thousand) are flagged and recomputed with the reference.
namespace {

constexpr int kShift = 20;
constexpr int32_t kFractionMask = (1 << kShift) - 1;
constexpr int32_t kBias = 256;
constexpr int32_t kIntegralMark = 1024;

constexpr int32_t kY = 1220542;   // 1.164 * 2^20 = 1220542.464
constexpr int32_t kVR = 1673527;  // 1.596 * 2^20 = 1673527.296
constexpr int32_t kVG = 852492;   // 0.813 * 2^20 = 852492.288
constexpr int32_t kUG = 409993;   // 0.391 * 2^20 = 409993.216
constexpr int32_t kUB = 2116026;  // 2.018 * 2^20 = 2116026.368

constexpr int32_t kRedOffset = kBias - 16 * kY - 128 * kVR;
constexpr int32_t kGreenOffset = kBias - 16 * kY + 128 * kVG + 128 * kUG;
constexpr int32_t kBlueOffset = kBias - 16 * kY - 128 * kUB;

// Pixel pairs converted per block; the block's flags live on the stack.
constexpr uint32_t kBlockPairs = 512;

inline uint8_t ClampToByte(int32_t value) {
    return static_cast<uint8_t>(std::min(std::max(value, 0), 255));
}

// Zero exactly when the fixed-point value sits on an integer in 1..256, where
// the double formula's last-bit rounding may decide the byte (256 cannot
// change it, but including it makes the test one mask): x - 1.0 must then be
// non-negative, below 2^28 and without fraction bits at or above kIntegralMark.
inline uint32_t ReferenceMark(int32_t fixed) {
    constexpr uint32_t kMask = 0xF0000000u | (kFractionMask & ~(kIntegralMark - 1));
    return (static_cast<uint32_t>(fixed) - (1u << kShift)) & kMask;
}

inline void ReferencePixel(uint8_t y, uint8_t u, uint8_t v, uint8_t* rgb) {
    kro_v4l2::YUVToRgb(y, u, v, rgb[2], rgb[1], rgb[0]);
}

// Per block of pairs the channels go to planes first and are interleaved in
// a second loop: each loop then has access groups the vectoriser handles
// (four bytes in, two per plane out; three bytes out per pixel).
struct BlockPlanes {
    uint8_t red[2 * kBlockPairs];
    uint8_t green[2 * kBlockPairs];
    uint8_t blue[2 * kBlockPairs];
    uint8_t redo[kBlockPairs];  // 1: pair must be redone with the reference
};

// Plain 32-bit arithmetic so that the compiler vectorises the loop; built for
// AVX2 too and picked at run time.
__attribute__((target_clones("avx2", "default")))
void ConvertPairs(const uint8_t* __restrict src, size_t pairs, BlockPlanes* __restrict planes) {
    for (size_t i = 0; i < pairs; ++i) {
        // The pair is U, Y0, V, Y1; the offsets 16 and 128 are folded into
        // the constants, which keeps every step a plain 32-bit operation.
        const uint8_t* pair = src + 4 * i;
        const int32_t u = pair[0];
        const int32_t y0 = pair[1];
        const int32_t v = pair[2];
        const int32_t y1 = pair[3];

        const int32_t red = kVR * v + kRedOffset;
        const int32_t green = kGreenOffset - kVG * v - kUG * u;
        const int32_t blue = kUB * u + kBlueOffset;
        const int32_t luma0 = kY * y0;
        const int32_t luma1 = kY * y1;

        const int32_t r0 = luma0 + red, g0 = luma0 + green, b0 = luma0 + blue;
        const int32_t r1 = luma1 + red, g1 = luma1 + green, b1 = luma1 + blue;

        planes->red[2 * i] = ClampToByte(r0 >> kShift);
        planes->red[2 * i + 1] = ClampToByte(r1 >> kShift);
        planes->green[2 * i] = ClampToByte(g0 >> kShift);
        planes->green[2 * i + 1] = ClampToByte(g1 >> kShift);
        planes->blue[2 * i] = ClampToByte(b0 >> kShift);
        planes->blue[2 * i + 1] = ClampToByte(b1 >> kShift);

        const uint32_t mark = std::min({ReferenceMark(r0), ReferenceMark(g0), ReferenceMark(b0),
                                        ReferenceMark(r1), ReferenceMark(g1), ReferenceMark(b1)});
        planes->redo[i] = mark == 0 ? 1 : 0;
    }
}

__attribute__((target_clones("avx2", "default")))
void Interleave(const BlockPlanes* __restrict planes, size_t pixels, uint8_t* __restrict dst) {
    for (size_t i = 0; i < pixels; ++i) {
        dst[3 * i] = planes->red[i];
        dst[3 * i + 1] = planes->green[i];
        dst[3 * i + 2] = planes->blue[i];
    }
}

}  // namespace

namespace kro_v4l2 {

void YUVToRgb(unsigned char y, unsigned char u, unsigned char v,
              unsigned char& blue, unsigned char& green, unsigned char& red) {
    const double base = 1.164 * (y - 16);
    const double b = 2.018 * (u - 128) + base;
    const double g = base - 0.813 * (v - 128) - 0.391 * (u - 128);
    const double r = 1.596 * (v - 128) + base;
    blue = ClampToByte(static_cast<int32_t>(b));
    green = ClampToByte(static_cast<int32_t>(g));
    red = ClampToByte(static_cast<int32_t>(r));
}

void UYVYRowToRgb24(const uint8_t* src, uint32_t width, uint8_t* dst) {
    const size_t pairs = width / 2;
    BlockPlanes planes;
    for (size_t first = 0; first < pairs; first += kBlockPairs) {
        const size_t count = std::min<size_t>(kBlockPairs, pairs - first);
        const uint8_t* blockSrc = src + 4 * first;
        uint8_t* blockDst = dst + 6 * first;
        ConvertPairs(blockSrc, count, &planes);
        Interleave(&planes, 2 * count, blockDst);
        const uint8_t* const redoEnd = planes.redo + count;
        for (const void* hit = std::memchr(planes.redo, 1, count); hit != nullptr;) {
            const auto* flag = static_cast<const uint8_t*>(hit);
            const auto i = static_cast<size_t>(flag - planes.redo);
            const uint8_t* pair = blockSrc + 4 * i;
            ReferencePixel(pair[1], pair[0], pair[2], blockDst + 6 * i);
            ReferencePixel(pair[3], pair[0], pair[2], blockDst + 6 * i + 3);
            hit = std::memchr(flag + 1, 1, static_cast<size_t>(redoEnd - flag - 1));
        }
    }
    if (width % 2 != 0) {
        const uint8_t* last = src + 4 * pairs;  // U, Y of the lone pixel
        const uint8_t u = pairs > 0 ? last[-4] : 128;
        const uint8_t v = pairs > 0 ? last[-2] : 128;
        ReferencePixel(last[1], u, v, dst + 6 * pairs);
    }
}

}  // namespace kro_v4l2
