#include "DecodedPicture.h"

extern "C" {
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

#include <iostream>

namespace {

// As the decoder's own errors: it has no logging of its own and its caller
// only sees a null picture.
void PrintError(const char* what)
{
    std::cout << "[x264Decoder ERROR] " << what << std::endl;
}

} // namespace

std::unique_ptr<DecodedPicture> DecodedPicture::Keep(const AVFrame* frame)
{
    if (frame == nullptr || frame->width <= 0 || frame->height <= 0 || frame->format < 0) {
        return nullptr;
    }
    AVFrame* kept = av_frame_alloc();
    if (kept == nullptr) {
        return nullptr;
    }
    if (av_frame_ref(kept, frame) < 0) {
        av_frame_free(&kept);
        return nullptr;
    }
    return std::unique_ptr<DecodedPicture>(new DecodedPicture(kept));
}

DecodedPicture::DecodedPicture(AVFrame* frame) : frame_(frame) {}

DecodedPicture::~DecodedPicture()
{
    av_frame_free(&frame_);
}

uint32_t DecodedPicture::Width() const
{
    return static_cast<uint32_t>(frame_->width);
}

uint32_t DecodedPicture::Height() const
{
    return static_cast<uint32_t>(frame_->height);
}

std::unique_ptr<UYVYFrame> DecodedPicture::ToUYVY() const
{
    const int width = frame_->width;
    const int height = frame_->height;
    // A conversion context of its own: stills are rare, and the live
    // conversion keeps its context for the view's size.
    SwsContext* scaler =
        sws_getContext(width, height, static_cast<AVPixelFormat>(frame_->format), width, height,
                       AV_PIX_FMT_UYVY422, SWS_FAST_BILINEAR, nullptr, nullptr, nullptr);
    if (scaler == nullptr) {
        PrintError("sws_getContext error");
        return nullptr;
    }
    auto picture = std::make_unique<UYVYFrame>(static_cast<uint32_t>(width), static_cast<uint32_t>(height));
    const int rows =
        sws_scale(scaler, frame_->data, frame_->linesize, 0, height, picture->planes(), picture->stride());
    sws_freeContext(scaler);
    if (rows != height) {
        PrintError("sws_scale error");
        return nullptr;
    }
    return picture;
}
