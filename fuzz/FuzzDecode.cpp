// Decoding of whatever bytes the stream carries and the conversion of each
// picture the decoder completes: at its own size and scaled to the view's,
// into the RGB rows the view shows, through the UYVY picture and straight
// from the decoded planes. Input: pieces of "two-byte big-endian
// length, bytes", each one decode call, as the receiver hands them on.
#include "UYVYFrame.h"
#include "X264Decoder.h"
#include "YUVToRgb.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    H264AvDecoder decoder;
    decoder.initilalize();
    if (size > 0 && (data[0] & 1) != 0) {
        decoder.SetMaxOutputSize(720, 576);
    }
    std::vector<uint8_t> row;
    std::vector<uint8_t> image;
    size_t offset = 1;
    while (offset + 2 <= size) {
        const size_t length =
            std::min<size_t>((size_t{data[offset]} << 8) | data[offset + 1], size - offset - 2);
        offset += 2;
        const UYVYFrame* picture = decoder.decode(data + offset, static_cast<uint32_t>(length));
        offset += length;
        if (picture == nullptr) {
            continue;
        }
        if (picture->width() > 8192 || picture->height() > 8192) {
            std::abort();
        }
        uint32_t width = 0;
        uint32_t height = 0;
        if (!decoder.OutputSize(width, height) || width != picture->width() || height != picture->height()) {
            std::abort();
        }
        image.resize(4 * static_cast<size_t>(width) * height);
        decoder.ConvertToRgb32(image.data(), 4 * static_cast<size_t>(width));
        row.resize(3 * static_cast<size_t>(picture->width()));
        for (uint32_t y = 0; y < picture->height(); ++y) {
            kro_v4l2::UYVYRowToRgb24(picture->data() + 2 * static_cast<size_t>(picture->width()) * y,
                                     picture->width(), row.data());
        }
    }
    return 0;
}
