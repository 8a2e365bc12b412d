#pragma once

#include "UYVYFrame.h"

#include <cstdint>
#include <memory>

struct AVFrame;

// A picture the decoder completed, kept apart from the decoder: it shares the
// decoded planes with it (nothing is copied), and the decoder never writes to
// a picture it has handed out, so the planes stay as they were while the
// decoder goes on and after it is gone. Made by H264AvDecoder on its thread;
// afterwards read-only, so any thread may convert it.
class DecodedPicture final {
public:
    // Null when `frame` holds no picture or the reference cannot be made.
    static std::unique_ptr<DecodedPicture> Keep(const AVFrame* frame);
    ~DecodedPicture();
    DecodedPicture(const DecodedPicture&) = delete;
    DecodedPicture& operator=(const DecodedPicture&) = delete;

    uint32_t Width() const;
    uint32_t Height() const;

    // The picture at its own size, converted as H264AvDecoder::toBGR converts
    // a picture it does not scale; null on failure.
    std::unique_ptr<UYVYFrame> ToUYVY() const;

private:
    explicit DecodedPicture(AVFrame* frame);

    AVFrame* frame_; // owned, a reference to the decoder's planes
};
