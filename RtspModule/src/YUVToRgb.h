#pragma once

#include <cstdint>

// Colour conversion of the live picture: one pixel at a time (the reference
// formula) and whole UYVY rows at once (the fast path of the live view, which
// gives exactly the same bytes as the reference for every input).
namespace kro_v4l2 {

// Video-range BT.601 to RGB, computed in double precision, each channel
// truncated toward zero and clamped to 0..255. Writes blue, green, red.
void YUVToRgb(unsigned char y, unsigned char u, unsigned char v, unsigned char& blue, unsigned char& green,
              unsigned char& red);

// Converts one packed UYVY 4:2:2 row of `width` pixels (2 * width bytes, pairs
// U, Y0, V, Y1) into `width` RGB24 pixels (3 * width bytes, red first).
// An odd last pixel takes the chroma of the pair before it (a one-pixel row
// has none and is shown grey-balanced: U = V = 128). Reads and writes nothing
// beyond those two ranges.
// Uses AVX2 where the processor has it, else portable vectorised loops.
void UYVYRowToRgb24(const uint8_t* src, uint32_t width, uint8_t* dst);

// The same row into `width` 32-bit pixels 0xffRRGGBB in the machine's byte
// order (QImage::Format_RGB32: blue, green, red, 0xff in memory here).
void UYVYRowToRgb32(const uint8_t* src, uint32_t width, uint8_t* dst);

// One row of a planar picture into 32-bit pixels as UYVYRowToRgb32 writes
// them: `width` luma samples, and pixel x takes chroma sample x / 2 of `u`
// and `v` ((width + 1) / 2 each). For an even width the bytes equal those of
// the UYVY row that packs the same samples.
void PlanarRowToRgb32(const uint8_t* y, const uint8_t* u, const uint8_t* v, uint32_t width, uint8_t* dst);

namespace detail {
// The portable loops alone, whatever the processor; for tests.
void UYVYRowToRgb24Portable(const uint8_t* src, uint32_t width, uint8_t* dst);
void UYVYRowToRgb32Portable(const uint8_t* src, uint32_t width, uint8_t* dst);
void PlanarRowToRgb32Portable(const uint8_t* y, const uint8_t* u, const uint8_t* v, uint32_t width,
                              uint8_t* dst);
} // namespace detail

} // namespace kro_v4l2
