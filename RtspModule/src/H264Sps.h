#pragma once

#include "FrameTypes.h"

#include <cstddef>
#include <cstdint>

// The picture size an H.264 sequence parameter set announces, read from the
// NAL unit (header byte first, no start code) without trusting any of its
// lengths. Width and height are the coded size in pixels, before cropping:
// what a decoder allocates for the stream.
struct H264PictureSize {
    uint32_t width = 0;
    uint32_t height = 0;
};

// False when the unit is not an SPS or ends before the size fields.
bool ParseSpsPictureSize(const uint8_t* nal, size_t size, H264PictureSize& picture);

// Largest picture the live view accepts on either side.
constexpr uint32_t kMaxPictureSide = 8192;

// The kind of a NAL unit (header byte first, no start code); an empty unit is
// Other.
kro::UnitKind H264UnitKind(const uint8_t* nal, size_t size);
