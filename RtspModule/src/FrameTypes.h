#pragma once

#include <cstddef>
#include <cstdint>

namespace kro {

enum class MediaFormat : uint8_t {
    Unknown = 0,
    VideoH264 = 5,
};

// What a delivered unit is, told by its NAL header and, for a slice, by the
// first bit of its slice header (first_mb_in_slice is 0 exactly in a
// picture's first slice). The sink knows it as it frames the unit, so no
// observer scans the bytes again.
enum class UnitKind : uint8_t {
    Other,         // SEI, delimiters, data partitions: part of no picture here
    ParameterSet,  // SPS or PPS
    KeyFrame,      // an IDR picture's first slice, the SDP's parameter sets in front
    KeyFrameSlice, // a further slice of an IDR picture, the same sets in front
    Picture,       // any other picture's first slice
    PictureSlice,  // a further slice of it
};

inline bool IsKeyFrame(UnitKind kind)
{
    return kind == UnitKind::KeyFrame || kind == UnitKind::KeyFrameSlice;
}

// Descriptor of one delivered frame. Every byte of a default-made descriptor is
// zero (no implicit padding). The sink fills only `format` and `timestamp`;
// width and height are there for a decoder that learns the picture size.
struct ImageDescr {
    MediaFormat format = MediaFormat::Unknown;
    uint8_t reserved[7] = {}; // explicit alignment fill, always zero
    uint32_t width = 0;
    uint32_t height = 0;
    int64_t timestamp = 0; // presentation time in microseconds
};
static_assert(sizeof(ImageDescr) == 24, "ImageDescr has no implicit padding");
static_assert(offsetof(ImageDescr, format) == 0 && offsetof(ImageDescr, timestamp) == 16,
              "format first, timestamp last");

// One frame as its producer lends it to observers: valid only during the call
// it is handed to.
class IVideoFrame {
public:
    virtual const void* getData() const = 0;
    virtual uint64_t getSize() const = 0;
    virtual ImageDescr getDescriptor() const = 0;
    virtual ~IVideoFrame() = default;
};

} // namespace kro

// Non-owning view of a frame buffer; valid while the buffer is unchanged.
class FrameWrapper final : public kro::IVideoFrame {
public:
    FrameWrapper(const void* data, uint64_t size, const kro::ImageDescr& descriptor)
        : data_(data), size_(size), descriptor_(descriptor)
    {
    }

    const void* getData() const override { return data_; }
    uint64_t getSize() const override { return size_; }
    kro::ImageDescr getDescriptor() const override { return descriptor_; }

private:
    const void* data_ = nullptr;
    uint64_t size_ = 0;
    kro::ImageDescr descriptor_;
};
