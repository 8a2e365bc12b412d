#pragma once

#include "UYVYFrame.h"

#include <cstdint>
#include <memory>
#include <vector>

struct AVCodec;
struct AVCodecContext;
struct AVCodecParserContext;
struct AVFrame;
struct AVPacket;
struct SwsContext;

// Decodes the H.264 byte stream of one live connection (Annex B pieces in any
// cut: single NAL units, parameter sets with a key frame, whole access units)
// and converts each completed picture into a packed UYVY buffer that the
// decoder owns and reuses. Made when the user connects, destroyed after the
// connection has stopped; used on one thread only.
//
// Failures are results: they print one "[x264Decoder ERROR] ..." line on
// standard output and make `decode` return null. The only exception is a
// library without an H.264 decoder: `initilalize` then throws the text
// "ERROR while find decoder" (a `const char*`).
class H264AvDecoder final {
public:
    H264AvDecoder();
    ~H264AvDecoder();
    H264AvDecoder(const H264AvDecoder&) = delete;
    H264AvDecoder& operator=(const H264AvDecoder&) = delete;

    // Prepares the decoder; call once before `decode`.
    void initilalize();

    // Feeds `size` bytes to the decoder. Returns the picture that they
    // completed (the latest one if they completed several), or null when they
    // completed none or decoding failed. The picture belongs to the decoder
    // and is overwritten by the next `decode` that returns one; after a
    // change of the picture size it is a new object.
    UYVYFrame* decode(const uint8_t* data, uint32_t size);

    // Converts the last decoded picture into the UYVY buffer and returns it,
    // or null on failure.
    UYVYFrame* toBGR();

    // Pictures wider or taller than this are scaled to exactly this size in
    // the same pass that converts them (for a view that shows every picture
    // at one size); 0 x 0, the default, keeps every picture's own size.
    void SetMaxOutputSize(uint32_t width, uint32_t height);

    // The last decoded picture at its own size, whatever SetMaxOutputSize
    // says, converted as `toBGR` converts a picture it does not scale (for a
    // still of the picture being shown). Null before the first picture or
    // on failure. Leaves the decoder's own conversion and picture untouched.
    std::unique_ptr<UYVYFrame> LastPictureAtOwnSize() const;
    // The last decoded picture's own size; false before the first picture.
    bool LastPictureSize(uint32_t& width, uint32_t& height) const;

private:
    // Decodes one access unit; true when it completed a picture.
    bool DecodePacket(uint8_t* data, int size, bool* failed);
    // Fills the picture from a 4:2:0 frame, each output pixel taken from the
    // source pixel it covers: the scaling and the packing in one pass.
    void SamplePlanar420();

    const AVCodec* codec_ = nullptr; // not owned
    AVCodecContext* context_ = nullptr;
    AVFrame* frame_ = nullptr;     // the last decoded picture
    AVFrame* received_ = nullptr;  // scratch for avcodec_receive_frame
    SwsContext* scaler_ = nullptr; // made for scalerWidth_ x scalerHeight_
    std::unique_ptr<UYVYFrame> picture_;
    AVPacket* packet_ = nullptr;             // points into parser output during decode
    AVCodecParserContext* parser_ = nullptr; // cuts the byte stream into access units

    int scalerWidth_ = 0;
    int scalerHeight_ = 0;
    int scalerOutWidth_ = 0;
    int scalerOutHeight_ = 0;
    uint32_t maxOutputWidth_ = 0;
    uint32_t maxOutputHeight_ = 0;
    // Source column of every output column, for SamplePlanar420.
    std::vector<int> sampleColumns_;
    int scalerFormat_ = -1;

    // The caller's bytes copied with the zeroed tail that libavcodec may read
    // past the end of its input; grows, never shrinks.
    std::vector<uint8_t> input_;
};
