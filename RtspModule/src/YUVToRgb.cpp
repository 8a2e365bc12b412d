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

// The reference formula for one pixel, written in the layout of a row
// conversion: 3 bytes red first, or 4 bytes blue first and 0xff.
template <size_t kBytes> inline void ReferencePixel(uint8_t y, uint8_t u, uint8_t v, uint8_t* out)
{
    static_assert(kBytes == 3 || kBytes == 4, "RGB24 or RGB32");
    if constexpr (kBytes == 3) {
        kro_v4l2::YUVToRgb(y, u, v, out[2], out[1], out[0]);
    } else {
        kro_v4l2::YUVToRgb(y, u, v, out[0], out[1], out[2]);
        out[3] = 0xFF;
    }
}

// Both pixels of the UYVY pair at `pair` with the reference.
template <size_t kBytes> inline void ReferencePair(const uint8_t* pair, uint8_t* out)
{
    ReferencePixel<kBytes>(pair[1], pair[0], pair[2], out);
    ReferencePixel<kBytes>(pair[3], pair[0], pair[2], out + kBytes);
}

// Per block of pairs the channels go to planes first and are interleaved in
// a second loop: each loop then has access groups the vectoriser handles
// (four bytes in, two per plane out; three or four bytes out per pixel).
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

template <size_t kBytes>
void Interleave(const BlockPlanes* __restrict planes, size_t pixels, uint8_t* __restrict dst)
{
    for (size_t i = 0; i < pixels; ++i) {
        if constexpr (kBytes == 3) {
            dst[3 * i] = planes->red[i];
            dst[3 * i + 1] = planes->green[i];
            dst[3 * i + 2] = planes->blue[i];
        } else {
            dst[4 * i] = planes->blue[i];
            dst[4 * i + 1] = planes->green[i];
            dst[4 * i + 2] = planes->red[i];
            dst[4 * i + 3] = 0xFF;
        }
    }
}

// Converts `pairs` whole pixel pairs with the portable loops.
template <size_t kBytes> void PortablePairs(const uint8_t* src, size_t pairs, uint8_t* dst)
{
    BlockPlanes planes;
    for (size_t first = 0; first < pairs; first += kBlockPairs) {
        const size_t count = std::min<size_t>(kBlockPairs, pairs - first);
        const uint8_t* blockSrc = src + 4 * first;
        uint8_t* blockDst = dst + 2 * kBytes * first;
        ConvertPairs(blockSrc, count, &planes);
        Interleave<kBytes>(&planes, 2 * count, blockDst);
        const uint8_t* const redoEnd = planes.redo + count;
        for (const void* hit = std::memchr(planes.redo, 1, count); hit != nullptr;) {
            const auto* flag = static_cast<const uint8_t*>(hit);
            const auto i = static_cast<size_t>(flag - planes.redo);
            ReferencePair<kBytes>(blockSrc + 4 * i, blockDst + 2 * kBytes * i);
            hit = std::memchr(flag + 1, 1, static_cast<size_t>(redoEnd - flag - 1));
        }
    }
}

// Planar pairs through the portable UYVY loops, a block at a time.
void PortablePlanarPairs(const uint8_t* y, const uint8_t* u, const uint8_t* v, size_t pairs, uint8_t* dst)
{
    uint8_t packed[4 * kBlockPairs];
    for (size_t first = 0; first < pairs; first += kBlockPairs) {
        const size_t count = std::min<size_t>(kBlockPairs, pairs - first);
        for (size_t i = 0; i < count; ++i) {
            packed[4 * i] = u[first + i];
            packed[4 * i + 1] = y[2 * (first + i)];
            packed[4 * i + 2] = v[first + i];
            packed[4 * i + 3] = y[2 * (first + i) + 1];
        }
        PortablePairs<4>(packed, count, dst + 8 * first);
    }
}

// Converts the leading pairs of a row in groups of 8 and returns how many
// they converted; the caller does the rest.
using FastPairs = size_t (*)(const uint8_t* src, size_t pairs, uint8_t* dst);
using FastPlanarPairs = size_t (*)(const uint8_t* y, const uint8_t* u, const uint8_t* v, size_t pairs,
                                   uint8_t* dst);

size_t NoFastPairs(const uint8_t*, size_t, uint8_t*)
{
    return 0;
}

size_t NoFastPlanarPairs(const uint8_t*, const uint8_t*, const uint8_t*, size_t, uint8_t*)
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

// Eight pairs' channels, each a 32-bit fixed-point value that carries -1.0
// from the offsets (so that the mark needs no subtraction), and the pairs
// that must be redone with the reference (bit k for pair k).
struct Avx2Channels {
    __m256i r0, g0, b0, r1, g1, b1;
    int redo;
};

// The arithmetic of ConvertPairs, 8 pairs per step; each input holds one
// byte value per 32-bit lane.
__attribute__((target("avx2"), always_inline)) inline void
Avx2Convert(const __m256i& u, const __m256i& y0, const __m256i& v, const __m256i& y1, Avx2Channels& out)
{
    const __m256i cY = _mm256_set1_epi32(kY);
    const __m256i red = _mm256_add_epi32(_mm256_mullo_epi32(v, _mm256_set1_epi32(kVR)),
                                         _mm256_set1_epi32(kRedOffset - (1 << kShift)));
    const __m256i green = _mm256_sub_epi32(_mm256_sub_epi32(_mm256_set1_epi32(kGreenOffset - (1 << kShift)),
                                                            _mm256_mullo_epi32(v, _mm256_set1_epi32(kVG))),
                                           _mm256_mullo_epi32(u, _mm256_set1_epi32(kUG)));
    const __m256i blue = _mm256_add_epi32(_mm256_mullo_epi32(u, _mm256_set1_epi32(kUB)),
                                          _mm256_set1_epi32(kBlueOffset - (1 << kShift)));
    const __m256i luma0 = _mm256_mullo_epi32(y0, cY);
    const __m256i luma1 = _mm256_mullo_epi32(y1, cY);
    out.r0 = _mm256_add_epi32(luma0, red);
    out.g0 = _mm256_add_epi32(luma0, green);
    out.b0 = _mm256_add_epi32(luma0, blue);
    out.r1 = _mm256_add_epi32(luma1, red);
    out.g1 = _mm256_add_epi32(luma1, green);
    out.b1 = _mm256_add_epi32(luma1, blue);

    const __m256i markMask = _mm256_set1_epi32(static_cast<int32_t>(kMarkMask));
    const __m256i mark = _mm256_min_epu32(
        _mm256_min_epu32(
            _mm256_min_epu32(_mm256_and_si256(out.r0, markMask), _mm256_and_si256(out.g0, markMask)),
            _mm256_min_epu32(_mm256_and_si256(out.b0, markMask), _mm256_and_si256(out.r1, markMask))),
        _mm256_min_epu32(_mm256_and_si256(out.g1, markMask), _mm256_and_si256(out.b1, markMask)));
    out.redo = _mm256_movemask_ps(_mm256_castsi256_ps(_mm256_cmpeq_epi32(mark, _mm256_setzero_si256())));
}

// Whole parts (minus one) of two channels to 16 bits, plus one; the
// saturating packs that follow do the clamping.
__attribute__((target("avx2"), always_inline)) inline __m256i Avx2Whole16(const __m256i& a, const __m256i& b)
{
    return _mm256_add_epi16(_mm256_packs_epi32(_mm256_srai_epi32(a, kShift), _mm256_srai_epi32(b, kShift)),
                            _mm256_set1_epi16(1));
}

// 16 pixels of RGB24 (48 bytes) from the channels of 8 pairs.
__attribute__((target("avx2"), always_inline)) inline void Avx2StoreRgb24(const Avx2Channels& c, uint8_t* out)
{
    const __m256i headFromX =
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(kRgbShuffles.headFromX.data()));
    const __m256i headFromZ =
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(kRgbShuffles.headFromZ.data()));
    const __m256i tailFromX =
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(kRgbShuffles.tailFromX.data()));
    const __m256i tailFromZ =
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(kRgbShuffles.tailFromZ.data()));
    const __m256i x = _mm256_packus_epi16(Avx2Whole16(c.r0, c.g0), Avx2Whole16(c.b0, c.r1));
    const __m256i gb = Avx2Whole16(c.g1, c.b1);
    const __m256i z = _mm256_packus_epi16(gb, gb);
    const __m256i head =
        _mm256_or_si256(_mm256_shuffle_epi8(x, headFromX), _mm256_shuffle_epi8(z, headFromZ));
    const __m256i tail =
        _mm256_or_si256(_mm256_shuffle_epi8(x, tailFromX), _mm256_shuffle_epi8(z, tailFromZ));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm256_castsi256_si128(head));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 16), _mm256_castsi256_si128(tail));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 24), _mm256_extracti128_si256(head, 1));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 40), _mm256_extracti128_si256(tail, 1));
}

// 16 pixels of RGB32 (64 bytes) from the channels of 8 pairs. Per 128-bit
// lane the packs give b[4] g[4] r[4] 0xff[4] of four pixels, a shuffle
// turns that into four pixels, and the even and odd pixels are interleaved.
__attribute__((target("avx2"), always_inline)) inline void Avx2StoreRgb32(const Avx2Channels& c, uint8_t* out)
{
    const __m256i transpose = _mm256_setr_epi8(0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15, 0, 4, 8,
                                               12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15);
    // 254 plus the one that Avx2Whole16 adds.
    const __m256i opaque = _mm256_set1_epi32(254 << kShift);
    const __m256i even = _mm256_shuffle_epi8(
        _mm256_packus_epi16(Avx2Whole16(c.b0, c.g0), Avx2Whole16(c.r0, opaque)), transpose);
    const __m256i odd = _mm256_shuffle_epi8(
        _mm256_packus_epi16(Avx2Whole16(c.b1, c.g1), Avx2Whole16(c.r1, opaque)), transpose);
    // Lane 0 holds pairs 0-3, lane 1 pairs 4-7.
    const __m256i low = _mm256_unpacklo_epi32(even, odd);  // pixels 0-3 | 8-11
    const __m256i high = _mm256_unpackhi_epi32(even, odd); // pixels 4-7 | 12-15
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), _mm256_permute2x128_si256(low, high, 0x20));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 32), _mm256_permute2x128_si256(low, high, 0x31));
}

template <size_t kBytes>
__attribute__((target("avx2"))) size_t Avx2Pairs(const uint8_t* src, size_t pairs, uint8_t* dst)
{
    const __m256i byteMask = _mm256_set1_epi32(0xFF);
    size_t i = 0;
    for (; i + 8 <= pairs; i += 8) {
        const __m256i word = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + 4 * i));
        const __m256i u = _mm256_and_si256(word, byteMask);
        const __m256i y0 = _mm256_and_si256(_mm256_srli_epi32(word, 8), byteMask);
        const __m256i v = _mm256_and_si256(_mm256_srli_epi32(word, 16), byteMask);
        const __m256i y1 = _mm256_srli_epi32(word, 24);
        Avx2Channels channels;
        Avx2Convert(u, y0, v, y1, channels);
        uint8_t* out = dst + 2 * kBytes * i;
        if constexpr (kBytes == 3) {
            Avx2StoreRgb24(channels, out);
        } else {
            Avx2StoreRgb32(channels, out);
        }
        for (int bits = channels.redo; bits != 0; bits &= bits - 1) {
            const size_t k = i + static_cast<size_t>(__builtin_ctz(static_cast<unsigned>(bits)));
            ReferencePair<kBytes>(src + 4 * k, dst + 2 * kBytes * k);
        }
    }
    return i;
}

__attribute__((target("avx2"))) size_t Avx2PlanarPairs(const uint8_t* y, const uint8_t* u, const uint8_t* v,
                                                       size_t pairs, uint8_t* dst)
{
    // Even luma samples to the low half, odd ones to the high half.
    const __m128i split = _mm_setr_epi8(0, 2, 4, 6, 8, 10, 12, 14, 1, 3, 5, 7, 9, 11, 13, 15);
    size_t i = 0;
    for (; i + 8 <= pairs; i += 8) {
        const __m128i luma =
            _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(y + 2 * i)), split);
        const __m256i y0 = _mm256_cvtepu8_epi32(luma);
        const __m256i y1 = _mm256_cvtepu8_epi32(_mm_srli_si128(luma, 8));
        const __m256i blue = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(u + i)));
        const __m256i red = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(v + i)));
        Avx2Channels channels;
        Avx2Convert(blue, y0, red, y1, channels);
        Avx2StoreRgb32(channels, dst + 8 * i);
        for (int bits = channels.redo; bits != 0; bits &= bits - 1) {
            const size_t k = i + static_cast<size_t>(__builtin_ctz(static_cast<unsigned>(bits)));
            ReferencePixel<4>(y[2 * k], u[k], v[k], dst + 8 * k);
            ReferencePixel<4>(y[2 * k + 1], u[k], v[k], dst + 8 * k + 4);
        }
    }
    return i;
}
#endif

bool HasAvx2()
{
#ifdef QEL_YUV_AVX2
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
#else
    return false;
#endif
}

template <size_t kBytes> FastPairs PickFastPairs()
{
#ifdef QEL_YUV_AVX2
    if (HasAvx2()) {
        return Avx2Pairs<kBytes>;
    }
#endif
    return NoFastPairs;
}

FastPlanarPairs PickFastPlanarPairs()
{
#ifdef QEL_YUV_AVX2
    if (HasAvx2()) {
        return Avx2PlanarPairs;
    }
#endif
    return NoFastPlanarPairs;
}

template <size_t kBytes> void ConvertRow(const uint8_t* src, uint32_t width, uint8_t* dst, FastPairs fast)
{
    const size_t pairs = width / 2;
    const size_t done = fast(src, pairs, dst);
    PortablePairs<kBytes>(src + 4 * done, pairs - done, dst + 2 * kBytes * done);
    if (width % 2 != 0) {
        const uint8_t* last = src + 4 * pairs; // U, Y of the lone pixel
        const uint8_t u = pairs > 0 ? last[-4] : 128;
        const uint8_t v = pairs > 0 ? last[-2] : 128;
        ReferencePixel<kBytes>(last[1], u, v, dst + 2 * kBytes * pairs);
    }
}

void ConvertPlanarRow(const uint8_t* y, const uint8_t* u, const uint8_t* v, uint32_t width, uint8_t* dst,
                      FastPlanarPairs fast)
{
    const size_t pairs = width / 2;
    const size_t done = fast(y, u, v, pairs, dst);
    PortablePlanarPairs(y + 2 * done, u + done, v + done, pairs - done, dst + 8 * done);
    if (width % 2 != 0) {
        ReferencePixel<4>(y[2 * pairs], u[pairs], v[pairs], dst + 8 * pairs);
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
    static const FastPairs fast = PickFastPairs<3>();
    ConvertRow<3>(src, width, dst, fast);
}

void UYVYRowToRgb32(const uint8_t* src, uint32_t width, uint8_t* dst)
{
    static const FastPairs fast = PickFastPairs<4>();
    ConvertRow<4>(src, width, dst, fast);
}

void PlanarRowToRgb32(const uint8_t* y, const uint8_t* u, const uint8_t* v, uint32_t width, uint8_t* dst)
{
    static const FastPlanarPairs fast = PickFastPlanarPairs();
    ConvertPlanarRow(y, u, v, width, dst, fast);
}

namespace detail {

void UYVYRowToRgb24Portable(const uint8_t* src, uint32_t width, uint8_t* dst)
{
    ConvertRow<3>(src, width, dst, NoFastPairs);
}

void UYVYRowToRgb32Portable(const uint8_t* src, uint32_t width, uint8_t* dst)
{
    ConvertRow<4>(src, width, dst, NoFastPairs);
}

void PlanarRowToRgb32Portable(const uint8_t* y, const uint8_t* u, const uint8_t* v, uint32_t width,
                              uint8_t* dst)
{
    ConvertPlanarRow(y, u, v, width, dst, NoFastPlanarPairs);
}

} // namespace detail

} // namespace kro_v4l2
