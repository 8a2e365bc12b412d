#pragma once

#include <cstdint>

// One decoded picture as packed UYVY 4:2:2: rows one after another, 2 * width
// bytes each, every pixel pair stored as U, Y0, V, Y1. The plane and stride
// tables have the shape libswscale writes into (only entry 0 is used).
// Owned by the decoder that fills it; not copyable.
class UYVYFrame final {
public:
    UYVYFrame(uint32_t width, uint32_t height);
    ~UYVYFrame();
    UYVYFrame(const UYVYFrame&) = delete;
    UYVYFrame& operator=(const UYVYFrame&) = delete;

    uint8_t* data() const { return data_; }
    uint32_t width() const { return width_; }
    uint32_t height() const { return height_; }
    uint8_t* const* planes() const { return planes_; }
    const int* stride() const { return stride_; }

    static constexpr uint32_t kSlackBytes = 64;

private:
    // width * height * 3 + kSlackBytes bytes, zero-filled. The packed picture
    // uses the first 2 * width * height; the rest absorbs what the scaler's
    // row loops write past the end of the last row (they work in blocks of
    // pixels, and an odd width ends in a half pair).
    uint8_t* data_ = nullptr;
    uint32_t width_ = 0;
    uint32_t height_ = 0;
    int stride_[4] = {0, 0, 0, 0};
    uint8_t* planes_[4] = {nullptr, nullptr, nullptr, nullptr};
};
