#include "X264Decoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

#include "YUVToRgb.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <iostream>
#include <thread>

namespace {

constexpr int kMaxDecodedSide = 8192;
// The decoder bounds a picture's area only: a stream may still declare
// one side far longer than any view or buffer of ours expects. Such a
// picture is dropped, and the last one that fits stays.
bool WithinSideLimit(const AVFrame* frame)
{
    return frame->width <= kMaxDecodedSide && frame->height <= kMaxDecodedSide;
}

// More threads than this gain little for one stream and each holds a picture back.
constexpr unsigned kMaxDecodingThreads = 4;

// The error lines go to standard output on purpose: the decoder has no
// logging of its own and its caller only sees a null picture.
void PrintError(const char* what)
{
    std::cout << "[x264Decoder ERROR] " << what << std::endl;
}

} // namespace

H264AvDecoder::H264AvDecoder()
    : maxThreads_(std::clamp(std::thread::hardware_concurrency(), 1u, kMaxDecodingThreads))
{
}

H264AvDecoder::~H264AvDecoder()
{
    avcodec_free_context(&context_);
    av_frame_free(&frame_);
    av_frame_free(&received_);
    sws_freeContext(scaler_);
    av_packet_free(&packet_);
    if (parser_ != nullptr) {
        av_parser_close(parser_);
    }
}

void H264AvDecoder::initilalize()
{
    if (context_ != nullptr || frame_ != nullptr) {
        return;
    }
    packet_ = av_packet_alloc();
    codec_ = avcodec_find_decoder(AV_CODEC_ID_H264);
    if (codec_ == nullptr) {
        throw "ERROR while find decoder";
    }
    frame_ = av_frame_alloc();
    received_ = av_frame_alloc();
    // The parser finds the access unit boundaries, so the input need not be
    // cut at frame boundaries. A library without it gets every call's bytes
    // as one access unit.
    parser_ = av_parser_init(AV_CODEC_ID_H264);
    if (frame_ == nullptr || received_ == nullptr || packet_ == nullptr) {
        PrintError("avcodec_open2 error");
        return;
    }
    // Until the stream tells its picture size, every picture is taken for
    // a small one.
    if (!OpenContext(1)) {
        PrintError("avcodec_open2 error");
    }
}

bool H264AvDecoder::OpenContext(int threads)
{
    avcodec_free_context(&context_);
    threads_ = 0;
    context_ = avcodec_alloc_context3(codec_);
    if (context_ == nullptr) {
        return false;
    }
    // One thread decodes each picture within the call that completes it.
    // Several decode successive pictures side by side, each call returning
    // the picture of the call threads - 1 before it.
    context_->thread_count = threads;
    context_->thread_type = threads > 1 ? FF_THREAD_FRAME : 0;
    // The allocation a stream can ask for stays bounded.
    context_->max_pixels = static_cast<int64_t>(kMaxDecodedSide) * kMaxDecodedSide;
    if (avcodec_open2(context_, codec_, nullptr) < 0) {
        avcodec_free_context(&context_);
        return false;
    }
    threads_ = threads;
    return true;
}

bool H264AvDecoder::FollowPictureSize()
{
    // The parser has read the size of the access unit it just handed out
    // from its parameter set, before that unit is decoded.
    if (parser_ == nullptr || context_ == nullptr || parser_->coded_width <= 0 ||
        parser_->coded_height <= 0) {
        return false;
    }
    const int64_t pixels = static_cast<int64_t>(parser_->coded_width) * parser_->coded_height;
    const int wanted = pixels > kOneThreadMaxPixels ? static_cast<int>(maxThreads_) : 1;
    if (wanted == threads_) {
        return false;
    }
    // The old codec's last pictures are not lost: the switch comes at a key
    // frame, and everything before it is taken out first.
    bool gotPicture = false;
    if (avcodec_send_packet(context_, nullptr) == 0) {
        while (avcodec_receive_frame(context_, received_) == 0) {
            if (!WithinSideLimit(received_)) {
                av_frame_unref(received_);
                continue;
            }
            av_frame_unref(frame_);
            av_frame_move_ref(frame_, received_);
            gotPicture = true;
        }
    }
    if (!OpenContext(wanted) && (wanted == 1 || !OpenContext(1))) {
        PrintError("avcodec_open2 error");
    }
    return gotPicture;
}

UYVYFrame* H264AvDecoder::decode(const uint8_t* data, uint32_t size)
{
    return DecodePicture(data, size) ? toBGR() : nullptr;
}

bool H264AvDecoder::DecodePicture(const uint8_t* data, uint32_t size)
{
    if (context_ == nullptr || frame_ == nullptr || received_ == nullptr || packet_ == nullptr || size == 0) {
        return false;
    }
    input_.resize(static_cast<size_t>(size) + AV_INPUT_BUFFER_PADDING_SIZE);
    std::memcpy(input_.data(), data, size);
    std::memset(input_.data() + size, 0, AV_INPUT_BUFFER_PADDING_SIZE);

    // The result follows the last access unit decoded in this call: a
    // picture, nothing new, or a failure that withdraws an earlier picture.
    bool pictureReady = false;
    auto feed = [this, &pictureReady](uint8_t* unit, int unitSize) {
        if (FollowPictureSize()) {
            pictureReady = true;
        }
        if (context_ == nullptr) {
            return; // the codec could not be reopened: nothing more decodes
        }
        bool failed = false;
        if (DecodePacket(unit, unitSize, &failed)) {
            pictureReady = true;
        } else if (failed) {
            pictureReady = false;
        }
    };

    uint8_t* rest = input_.data();
    size_t restSize = size;
    if (parser_ == nullptr) {
        feed(rest, static_cast<int>(std::min<size_t>(restSize, INT_MAX)));
        restSize = 0;
    }
    // Every byte goes to the parser, also after a completed picture: the
    // bytes behind it already belong to the next one.
    while (restSize > 0 && context_ != nullptr) {
        uint8_t* unit = nullptr;
        int unitSize = 0;
        const int chunk = static_cast<int>(std::min<size_t>(restSize, INT_MAX / 2));
        const int used = av_parser_parse2(parser_, context_, &unit, &unitSize, rest, chunk, AV_NOPTS_VALUE,
                                          AV_NOPTS_VALUE, 0);
        if (used < 0 || (used == 0 && unitSize == 0)) {
            break; // the parser took nothing and gave nothing: no progress possible
        }
        rest += used;
        restSize -= static_cast<size_t>(used);
        if (unitSize > 0) {
            feed(unit, unitSize);
        }
    }
    return pictureReady;
}

bool H264AvDecoder::DecodePacket(uint8_t* data, int size, bool* failed)
{
    *failed = false;
    packet_->data = data;
    packet_->size = size;
    int result = avcodec_send_packet(context_, packet_);
    packet_->data = nullptr;
    packet_->size = 0;
    if (result < 0) {
        PrintError("avcodec_decode_video2 error");
        *failed = true;
        return false;
    }
    // Received into a scratch frame: the call that reports "no more" also
    // empties the frame it is given, and frame_ must keep the last picture.
    bool gotPicture = false;
    while ((result = avcodec_receive_frame(context_, received_)) == 0) {
        if (!WithinSideLimit(received_)) {
            av_frame_unref(received_);
            continue;
        }
        av_frame_unref(frame_);
        av_frame_move_ref(frame_, received_);
        gotPicture = true;
    }
    if (result != AVERROR(EAGAIN) && result != AVERROR_EOF) {
        PrintError("avcodec_decode_video2 error");
        *failed = true;
        return false;
    }
    return gotPicture;
}

UYVYFrame* H264AvDecoder::toBGR()
{
    if (frame_ == nullptr) {
        return nullptr;
    }
    const int width = frame_->width;
    const int height = frame_->height;
    const int format = frame_->format;
    int outWidth = width;
    int outHeight = height;
    OutputSizeOf(width, height, outWidth, outHeight);
    const bool scaled = outWidth != width || outHeight != height;
    const bool planar420 = format == AV_PIX_FMT_YUV420P || format == AV_PIX_FMT_YUVJ420P;
    if (scaled && planar420 && outWidth % 2 == 0) {
        // The view shows every picture at its own size: only the pixels it
        // shows are sampled, without a scaler pass over the whole picture.
        const auto pictureWidth = static_cast<uint32_t>(outWidth);
        const auto pictureHeight = static_cast<uint32_t>(outHeight);
        if (picture_ == nullptr || picture_->width() != pictureWidth || picture_->height() != pictureHeight) {
            picture_ = std::make_unique<UYVYFrame>(pictureWidth, pictureHeight);
        }
        SamplePlanar420();
        return picture_.get();
    }
    // A stream may change its picture size (or pixel format) at a key frame:
    // the scaler and the picture follow it.
    if (scaler_ != nullptr && (width != scalerWidth_ || height != scalerHeight_ || format != scalerFormat_ ||
                               outWidth != scalerOutWidth_ || outHeight != scalerOutHeight_)) {
        sws_freeContext(scaler_);
        scaler_ = nullptr;
    }
    if (scaler_ == nullptr) {
        if (width <= 0 || height <= 0 || format < 0) {
            // No picture decoded yet: libswscale would abort on the format.
            PrintError("sws_getContext error");
            return nullptr;
        }
        scaler_ = sws_getContext(width, height, static_cast<AVPixelFormat>(format), outWidth, outHeight,
                                 AV_PIX_FMT_UYVY422, SWS_FAST_BILINEAR, nullptr, nullptr, nullptr);
        if (scaler_ == nullptr) {
            PrintError("sws_getContext error");
            return nullptr;
        }
        scalerWidth_ = width;
        scalerHeight_ = height;
        scalerFormat_ = format;
        scalerOutWidth_ = outWidth;
        scalerOutHeight_ = outHeight;
    }
    const auto pictureWidth = static_cast<uint32_t>(outWidth);
    const auto pictureHeight = static_cast<uint32_t>(outHeight);
    if (picture_ == nullptr || picture_->width() != pictureWidth || picture_->height() != pictureHeight) {
        picture_ = std::make_unique<UYVYFrame>(pictureWidth, pictureHeight);
    }
    const int rows =
        sws_scale(scaler_, frame_->data, frame_->linesize, 0, height, picture_->planes(), picture_->stride());
    if (rows == outHeight) {
        return picture_.get();
    }
    PrintError("sws_scale error");
    return nullptr;
}

void H264AvDecoder::SetMaxOutputSize(uint32_t width, uint32_t height)
{
    maxOutputWidth_ = width;
    maxOutputHeight_ = height;
}

std::unique_ptr<UYVYFrame> H264AvDecoder::LastPictureAtOwnSize() const
{
    const std::unique_ptr<DecodedPicture> picture = KeepLastPicture();
    return picture ? picture->ToUYVY() : nullptr;
}

std::unique_ptr<DecodedPicture> H264AvDecoder::KeepLastPicture() const
{
    return DecodedPicture::Keep(frame_);
}

bool H264AvDecoder::LastPictureSize(uint32_t& width, uint32_t& height) const
{
    if (frame_ == nullptr || frame_->width <= 0 || frame_->height <= 0) {
        return false;
    }
    width = static_cast<uint32_t>(frame_->width);
    height = static_cast<uint32_t>(frame_->height);
    return true;
}

void H264AvDecoder::SetMaxThreads(unsigned threads)
{
    maxThreads_ = std::max(1u, threads);
}

int H264AvDecoder::DecodingThreads() const
{
    return context_ != nullptr ? threads_ : 0;
}

void H264AvDecoder::OutputSizeOf(int width, int height, int& outWidth, int& outHeight) const
{
    outWidth = width;
    outHeight = height;
    if (maxOutputWidth_ > 0 && maxOutputHeight_ > 0 &&
        (static_cast<uint32_t>(width) > maxOutputWidth_ ||
         static_cast<uint32_t>(height) > maxOutputHeight_)) {
        outWidth = static_cast<int>(maxOutputWidth_);
        outHeight = static_cast<int>(maxOutputHeight_);
    }
}

bool H264AvDecoder::OutputSize(uint32_t& width, uint32_t& height) const
{
    if (frame_ == nullptr || frame_->width <= 0 || frame_->height <= 0) {
        return false;
    }
    int outWidth = 0;
    int outHeight = 0;
    OutputSizeOf(frame_->width, frame_->height, outWidth, outHeight);
    width = static_cast<uint32_t>(outWidth);
    height = static_cast<uint32_t>(outHeight);
    return true;
}

void H264AvDecoder::FillSampleColumns(int width, int outWidth)
{
    // Centre of each output pixel mapped back onto the source.
    sampleColumns_.resize(static_cast<size_t>(outWidth));
    for (int x = 0; x < outWidth; ++x) {
        sampleColumns_[static_cast<size_t>(x)] = static_cast<int>((2 * static_cast<int64_t>(x) + 1) * width /
                                                                  (2 * static_cast<int64_t>(outWidth)));
    }
}

int H264AvDecoder::SampleRow(int y, int height, int outHeight)
{
    return static_cast<int>((2 * static_cast<int64_t>(y) + 1) * height /
                            (2 * static_cast<int64_t>(outHeight)));
}

void H264AvDecoder::SamplePlanar420()
{
    const int width = frame_->width;
    const int height = frame_->height;
    const auto outWidth = static_cast<int>(picture_->width());
    const auto outHeight = static_cast<int>(picture_->height());
    FillSampleColumns(width, outWidth);
    const int* columns = sampleColumns_.data();
    for (int y = 0; y < outHeight; ++y) {
        const int row = SampleRow(y, height, outHeight);
        const uint8_t* luma = frame_->data[0] + static_cast<ptrdiff_t>(row) * frame_->linesize[0];
        const uint8_t* blue = frame_->data[1] + static_cast<ptrdiff_t>(row / 2) * frame_->linesize[1];
        const uint8_t* red = frame_->data[2] + static_cast<ptrdiff_t>(row / 2) * frame_->linesize[2];
        uint8_t* out = picture_->data() + 2 * static_cast<size_t>(outWidth) * static_cast<size_t>(y);
        for (int x = 0; x < outWidth; x += 2, out += 4) {
            const int x0 = columns[x];
            // A pair shares the chroma of its first pixel, as 4:2:2 does.
            out[0] = blue[x0 / 2];
            out[1] = luma[x0];
            out[2] = red[x0 / 2];
            out[3] = luma[columns[x + 1]];
        }
    }
}

bool H264AvDecoder::ConvertToRgb32(uint8_t* pixels, size_t stride)
{
    if (frame_ == nullptr || frame_->width <= 0 || frame_->height <= 0) {
        return false;
    }
    const int width = frame_->width;
    const int height = frame_->height;
    const int format = frame_->format;
    int outWidth = 0;
    int outHeight = 0;
    OutputSizeOf(width, height, outWidth, outHeight);
    const bool scaled = outWidth != width || outHeight != height;
    // The cases whose UYVY picture repeats each chroma sample of the planes
    // unchanged, which the planar row conversion does too. The scaler turns
    // full-range chroma into video range at a picture's own size, and packs
    // an odd last column its own way.
    const bool planar420 = format == AV_PIX_FMT_YUV420P || format == AV_PIX_FMT_YUVJ420P;
    const bool direct =
        scaled ? planar420 && outWidth % 2 == 0 : format == AV_PIX_FMT_YUV420P && width % 2 == 0;
    if (!direct) {
        return false;
    }
    if (!scaled) {
        for (int y = 0; y < height; ++y) {
            kro_v4l2::PlanarRowToRgb32(frame_->data[0] + static_cast<ptrdiff_t>(y) * frame_->linesize[0],
                                       frame_->data[1] + static_cast<ptrdiff_t>(y / 2) * frame_->linesize[1],
                                       frame_->data[2] + static_cast<ptrdiff_t>(y / 2) * frame_->linesize[2],
                                       static_cast<uint32_t>(width),
                                       pixels + static_cast<size_t>(y) * stride);
        }
        return true;
    }
    // As SamplePlanar420 samples, one row's planes at a time.
    FillSampleColumns(width, outWidth);
    const int* columns = sampleColumns_.data();
    const auto pairs = static_cast<size_t>(outWidth / 2);
    sampledRow_.resize(4 * pairs);
    uint8_t* sampledLuma = sampledRow_.data();
    uint8_t* sampledBlue = sampledLuma + 2 * pairs;
    uint8_t* sampledRed = sampledBlue + pairs;
    for (int y = 0; y < outHeight; ++y) {
        const int row = SampleRow(y, height, outHeight);
        const uint8_t* luma = frame_->data[0] + static_cast<ptrdiff_t>(row) * frame_->linesize[0];
        const uint8_t* blue = frame_->data[1] + static_cast<ptrdiff_t>(row / 2) * frame_->linesize[1];
        const uint8_t* red = frame_->data[2] + static_cast<ptrdiff_t>(row / 2) * frame_->linesize[2];
        for (size_t k = 0; k < pairs; ++k) {
            const int x0 = columns[2 * k];
            sampledLuma[2 * k] = luma[x0];
            sampledLuma[2 * k + 1] = luma[columns[2 * k + 1]];
            sampledBlue[k] = blue[x0 / 2];
            sampledRed[k] = red[x0 / 2];
        }
        kro_v4l2::PlanarRowToRgb32(sampledLuma, sampledBlue, sampledRed, static_cast<uint32_t>(outWidth),
                                   pixels + static_cast<size_t>(y) * stride);
    }
    return true;
}
