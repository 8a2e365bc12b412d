#include "YUVToRgb.h"

#include <algorithm>
#include <array>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define QEL_YUV_AVX2 1
#endif

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

constexpr int32_t kY = 1220542;  // 1.164 * 2^20 = 1220542.464
constexpr int32_t kVR = 1673527; // 1.596 * 2^20 = 1673527.296
constexpr int32_t kVG = 852492;  // 0.813 * 2^20 = 852492.288
constexpr int32_t kUG = 409993;  // 0.391 * 2^20 = 409993.216
constexpr int32_t kUB = 2116026; // 2.018 * 2^20 = 2116026.368

constexpr int32_t kRedOffset = kBias - 16 * kY - 128 * kVR;
constexpr int32_t kGreenOffset = kBias - 16 * kY + 128 * kVG + 128 * kUG;
constexpr int32_t kBlueOffset = kBias - 16 * kY - 128 * kUB;

// Pixel pairs per block of the portable loops; a block's planes and flags
// live on the stack.
constexpr uint32_t kBlockPairs = 512;

constexpr uint32_t kMarkMask = 0xF0000000u | (kFractionMask & ~(kIntegralMark - 1));

inline uint8_t ClampToByte(int32_t value)
{
    return static_cast<uint8_t>(std::min(std::max(value, 0), 255));
}

// Zero exactly when the fixed-point value sits on an integer in 1..256, where
// the double formula's last-bit rounding may decide the byte (256 cannot
// change it, but including it makes the test one mask): x - 1.0 must then be
// non-negative, below 2^28 and without fraction bits at or above kIntegralMark.
inline uint32_t ReferenceMark(int32_t fixed)
{
    return (static_cast<uint32_t>(fixed) - (1u << kShift)) & kMarkMask;
}

inline void ReferencePixel(uint8_t y, uint8_t u, uint8_t v, uint8_t* rgb)
{
    kro_v4l2::YUVToRgb(y, u, v, rgb[2], rgb[1], rgb[0]);
}

// Per block of pairs the channels go to planes first and are interleaved in
// a second loop: each loop then has access groups the vectoriser handles
// (four bytes in, two per plane out; three bytes out per pixel).
struct BlockPlanes {
    uint8_t red[2 * kBlockPairs];
    uint8_t green[2 * kBlockPairs];
    uint8_t blue[2 * kBlockPairs];
    uint8_t redo[kBlockPairs]; // 1: pair must be redone with the reference
};

// Plain 32-bit arithmetic so that the compiler vectorises the loop.
void ConvertPairs(const uint8_t* __restrict src, size_t pairs, BlockPlanes* __restrict planes)
{
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

void Interleave(const BlockPlanes* __restrict planes, size_t pixels, uint8_t* __restrict dst)
{
    for (size_t i = 0; i < pixels; ++i) {
        dst[3 * i] = planes->red[i];
        dst[3 * i + 1] = planes->green[i];
        dst[3 * i + 2] = planes->blue[i];
    }
}

// Converts `pairs` whole pixel pairs with the portable loops.
void PortablePairs(const uint8_t* src, size_t pairs, uint8_t* dst)
{
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
}

// Converts the leading pairs of a row in groups of 8 and returns how many it
// converted; the caller does the rest.
using FastPairs = size_t (*)(const uint8_t* src, size_t pairs, uint8_t* dst);

size_t NoFastPairs(const uint8_t*, size_t, uint8_t*)
{
    return 0;
}

#ifdef QEL_YUV_AVX2
// Byte shuffles that turn, per 128-bit lane (4 pairs), the packed channel
// bytes X = r0[4] g0[4] b0[4] r1[4] and Z = g1[4] b1[4] into 24 bytes of RGB:
// pair k is r0 g0 b0 r1 g1 b1. Index 0x80 gives a zero byte.
struct RgbShuffles {
    std::array<int8_t, 32> headFromX{}, headFromZ{}, tailFromX{}, tailFromZ{};
};

constexpr RgbShuffles MakeRgbShuffles()
{
    RgbShuffles t;
    for (int lane = 0; lane < 2; ++lane) {
        for (int p = 0; p < 24; ++p) {
            const int k = p / 6;
            const int c = p % 6;
            const int fromX = c < 4 ? c * 4 + k : -128;
            const int fromZ = c == 4 ? k : c == 5 ? 4 + k : -128;
            const int at = lane * 16 + (p < 16 ? p : p - 16);
            if (p < 16) {
                t.headFromX[at] = static_cast<int8_t>(fromX);
                t.headFromZ[at] = static_cast<int8_t>(fromZ);
            } else {
                t.tailFromX[at] = static_cast<int8_t>(fromX);
                t.tailFromZ[at] = static_cast<int8_t>(fromZ);
            }
        }
        for (int p = 8; p < 16; ++p) {
            t.tailFromX[lane * 16 + p] = -128;
            t.tailFromZ[lane * 16 + p] = -128;
        }
    }
    return t;
}

constexpr RgbShuffles kRgbShuffles = MakeRgbShuffles();

// The same arithmetic as ConvertPairs, 8 pairs per step, with the channels
// packed straight into RGB (the saturating packs do the clamping). The
// values carry -1.0 from the offsets, so that the mark needs no subtraction.
__attribute__((target("avx2"))) size_t Avx2Pairs(const uint8_t* src, size_t pairs, uint8_t* dst)
{
    const __m256i byteMask = _mm256_set1_epi32(0xFF);
    const __m256i cY = _mm256_set1_epi32(kY);
    const __m256i cVR = _mm256_set1_epi32(kVR);
    const __m256i cVG = _mm256_set1_epi32(kVG);
    const __m256i cUG = _mm256_set1_epi32(kUG);
    const __m256i cUB = _mm256_set1_epi32(kUB);
    const __m256i redOffset = _mm256_set1_epi32(kRedOffset - (1 << kShift));
    const __m256i greenOffset = _mm256_set1_epi32(kGreenOffset - (1 << kShift));
    const __m256i blueOffset = _mm256_set1_epi32(kBlueOffset - (1 << kShift));
    const __m256i markMask = _mm256_set1_epi32(static_cast<int32_t>(kMarkMask));
    const __m256i one = _mm256_set1_epi16(1);
    const __m256i zero = _mm256_setzero_si256();
    const __m256i headFromX =
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(kRgbShuffles.headFromX.data()));
    const __m256i headFromZ =
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(kRgbShuffles.headFromZ.data()));
    const __m256i tailFromX =
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(kRgbShuffles.tailFromX.data()));
    const __m256i tailFromZ =
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(kRgbShuffles.tailFromZ.data()));

    size_t i = 0;
    for (; i + 8 <= pairs; i += 8) {
        const __m256i word = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + 4 * i));
        const __m256i u = _mm256_and_si256(word, byteMask);
        const __m256i y0 = _mm256_and_si256(_mm256_srli_epi32(word, 8), byteMask);
        const __m256i v = _mm256_and_si256(_mm256_srli_epi32(word, 16), byteMask);
        const __m256i y1 = _mm256_srli_epi32(word, 24);

        const __m256i red = _mm256_add_epi32(_mm256_mullo_epi32(v, cVR), redOffset);
        const __m256i green = _mm256_sub_epi32(_mm256_sub_epi32(greenOffset, _mm256_mullo_epi32(v, cVG)),
                                               _mm256_mullo_epi32(u, cUG));
        const __m256i blue = _mm256_add_epi32(_mm256_mullo_epi32(u, cUB), blueOffset);
        const __m256i luma0 = _mm256_mullo_epi32(y0, cY);
        const __m256i luma1 = _mm256_mullo_epi32(y1, cY);
        const __m256i r0 = _mm256_add_epi32(luma0, red);
        const __m256i g0 = _mm256_add_epi32(luma0, green);
        const __m256i b0 = _mm256_add_epi32(luma0, blue);
        const __m256i r1 = _mm256_add_epi32(luma1, red);
        const __m256i g1 = _mm256_add_epi32(luma1, green);
        const __m256i b1 = _mm256_add_epi32(luma1, blue);

        const __m256i mark = _mm256_min_epu32(
            _mm256_min_epu32(
                _mm256_min_epu32(_mm256_and_si256(r0, markMask), _mm256_and_si256(g0, markMask)),
                _mm256_min_epu32(_mm256_and_si256(b0, markMask), _mm256_and_si256(r1, markMask))),
            _mm256_min_epu32(_mm256_and_si256(g1, markMask), _mm256_and_si256(b1, markMask)));
        const int redo = _mm256_movemask_ps(_mm256_castsi256_ps(_mm256_cmpeq_epi32(mark, zero)));

        // Whole parts (minus one) to 16 bits, plus one, then to clamped bytes.
        const __m256i a = _mm256_add_epi16(
            _mm256_packs_epi32(_mm256_srai_epi32(r0, kShift), _mm256_srai_epi32(g0, kShift)), one);
        const __m256i b = _mm256_add_epi16(
            _mm256_packs_epi32(_mm256_srai_epi32(b0, kShift), _mm256_srai_epi32(r1, kShift)), one);
        const __m256i c = _mm256_add_epi16(
            _mm256_packs_epi32(_mm256_srai_epi32(g1, kShift), _mm256_srai_epi32(b1, kShift)), one);
        const __m256i x = _mm256_packus_epi16(a, b);
        const __m256i z = _mm256_packus_epi16(c, c);
        const __m256i head =
            _mm256_or_si256(_mm256_shuffle_epi8(x, headFromX), _mm256_shuffle_epi8(z, headFromZ));
        const __m256i tail =
            _mm256_or_si256(_mm256_shuffle_epi8(x, tailFromX), _mm256_shuffle_epi8(z, tailFromZ));

        uint8_t* out = dst + 6 * i;
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm256_castsi256_si128(head));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 16), _mm256_castsi256_si128(tail));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 24), _mm256_extracti128_si256(head, 1));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 40), _mm256_extracti128_si256(tail, 1));

        for (int bits = redo; bits != 0; bits &= bits - 1) {
            const size_t k = i + static_cast<size_t>(__builtin_ctz(static_cast<unsigned>(bits)));
            const uint8_t* pair = src + 4 * k;
            ReferencePixel(pair[1], pair[0], pair[2], dst + 6 * k);
            ReferencePixel(pair[3], pair[0], pair[2], dst + 6 * k + 3);
        }
    }
    return i;
}
#endif

FastPairs PickFastPairs()
{
#ifdef QEL_YUV_AVX2
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2")) {
        return Avx2Pairs;
    }
#endif
    return NoFastPairs;
}

void ConvertRow(const uint8_t* src, uint32_t width, uint8_t* dst, FastPairs fast)
{
    const size_t pairs = width / 2;
    const size_t done = fast(src, pairs, dst);
    PortablePairs(src + 4 * done, pairs - done, dst + 6 * done);
    if (width % 2 != 0) {
        const uint8_t* last = src + 4 * pairs; // U, Y of the lone pixel
        const uint8_t u = pairs > 0 ? last[-4] : 128;
        const uint8_t v = pairs > 0 ? last[-2] : 128;
        ReferencePixel(last[1], u, v, dst + 6 * pairs);
    }
}

} // namespace

namespace kro_v4l2 {

void YUVToRgb(unsigned char y, unsigned char u, unsigned char v, unsigned char& blue, unsigned char& green,
              unsigned char& red)
{
    const double base = 1.164 * (y - 16);
    const double b = 2.018 * (u - 128) + base;
    const double g = base - 0.813 * (v - 128) - 0.391 * (u - 128);
    const double r = 1.596 * (v - 128) + base;
    blue = ClampToByte(static_cast<int32_t>(b));
    green = ClampToByte(static_cast<int32_t>(g));
    red = ClampToByte(static_cast<int32_t>(r));
}

void UYVYRowToRgb24(const uint8_t* src, uint32_t width, uint8_t* dst)
{
    static const FastPairs fast = PickFastPairs();
    ConvertRow(src, width, dst, fast);
}

namespace detail {

void UYVYRowToRgb24Portable(const uint8_t* src, uint32_t width, uint8_t* dst)
{
    ConvertRow(src, width, dst, NoFastPairs);
}

} // namespace detail

} // namespace kro_v4l2
