#pragma once

#include "DecodedPicture.h"
#include "UYVYFrame.h"

#include <cstddef>
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
// Pictures up to 720x576 decode on the caller's thread alone, so that each
// comes out with the call that completes it. Larger ones decode on several
// threads of the codec library, which hold the pictures back by one call per
// extra thread. The size is read from the stream before its first picture is
// decoded, and a size that crosses the bound reopens the codec (at a key frame,
// where the parameter sets come).
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

    // Feeds bytes as `decode` does without converting anything: true when
    // they completed a picture, which `toBGR` or `ConvertToRgb32` then
    // converts.
    bool DecodePicture(const uint8_t* data, uint32_t size);

    // Converts the last decoded picture into the UYVY buffer and returns it,
    // or null on failure.
    UYVYFrame* toBGR();

    // The size the last decoded picture is converted to (its own, or the
    // maximum output size); false before the first picture.
    bool OutputSize(uint32_t& width, uint32_t& height) const;

    // Writes the last decoded picture as 32-bit pixels 0xffRRGGBB
    // (QImage::Format_RGB32), OutputSize large, rows `stride` bytes apart,
    // straight from its planes: the bytes `toBGR` and the UYVY row
    // conversion give, without the UYVY picture in between. False, writing
    // nothing, for pictures it does not take this way (other than 4:2:0,
    // or of odd width); `toBGR` converts those.
    bool ConvertToRgb32(uint8_t* pixels, size_t stride);

    // Pictures wider or taller than this are scaled to exactly this size in
    // the same pass that converts them (for a view that shows every picture
    // at one size); 0 x 0, the default, keeps every picture's own size.
    void SetMaxOutputSize(uint32_t width, uint32_t height);

    // The last decoded picture at its own size, whatever SetMaxOutputSize
    // says, converted as `toBGR` converts a picture it does not scale (for a
    // still of the picture being shown). Null before the first picture or
    // on failure. Leaves the decoder's own conversion and picture untouched.
    std::unique_ptr<UYVYFrame> LastPictureAtOwnSize() const;
    // The last decoded picture, kept for conversion later or on another
    // thread (see DecodedPicture); null before the first picture.
    std::unique_ptr<DecodedPicture> KeepLastPicture() const;
    // The last decoded picture's own size; false before the first picture.
    bool LastPictureSize(uint32_t& width, uint32_t& height) const;

    // Most threads a picture larger than 720x576 decodes on; the default is
    // the machine's processor count, at most 4. Takes effect when the codec
    // is next opened for a picture size.
    void SetMaxThreads(unsigned threads);
    // The threads the open codec decodes on: 1 up to 720x576 (and before
    // the first picture), more above; 0 when no codec is open.
    int DecodingThreads() const;

    // Most pixels a picture may have and still decode on the caller's thread.
    static constexpr int64_t kOneThreadMaxPixels = 720 * 576;

private:
    // Allocates and opens the codec context for `threads` threads; false,
    // with context_ null, when that fails.
    bool OpenContext(int threads);
    // Reopens the codec when the picture size the parser read calls for
    // another thread count; true when the pictures the old codec still held
    // back were taken out, the last of them into frame_.
    bool FollowPictureSize();
    // Decodes one access unit; true when it completed a picture.
    bool DecodePacket(uint8_t* data, int size, bool* failed);
    // Fills the picture from a 4:2:0 frame, each output pixel taken from the
    // source pixel it covers: the scaling and the packing in one pass.
    void SamplePlanar420();
    // The output size of a picture of the given size.
    void OutputSizeOf(int width, int height, int& outWidth, int& outHeight) const;
    // The source column of every output column, into sampleColumns_, and
    // the source row of an output row: the pixel under the output pixel's
    // centre.
    void FillSampleColumns(int width, int outWidth);
    static int SampleRow(int y, int height, int outHeight);

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
    unsigned maxThreads_ = 1;
    int threads_ = 0; // of the open context
    // Source column of every output column, for SamplePlanar420 and
    // ConvertToRgb32.
    std::vector<int> sampleColumns_;
    // One sampled row's planes, for ConvertToRgb32.
    std::vector<uint8_t> sampledRow_;
    int scalerFormat_ = -1;

    // The caller's bytes copied with the zeroed tail that libavcodec may read
    // past the end of its input; grows, never shrinks.
    std::vector<uint8_t> input_;
};
