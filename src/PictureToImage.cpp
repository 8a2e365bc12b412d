#include "PictureToImage.h"

#include "UYVYFrame.h"
#include "YUVToRgb.h"

#include <cstddef>
#include <cstdint>
#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif
#include <vector>

namespace {

// RGB24 (red first) to QImage::Format_RGB32 (0xffRRGGBB, blue first in
// memory on this little-endian machine).
void Rgb24ToRgb32Portable(const uint8_t* rgb, size_t from, size_t width, uchar* line)
{
    for (size_t x = from; x < width; ++x) {
        line[4 * x] = rgb[3 * x + 2];
        line[4 * x + 1] = rgb[3 * x + 1];
        line[4 * x + 2] = rgb[3 * x];
        line[4 * x + 3] = 0xFF;
    }
}

#if defined(__x86_64__) || defined(__i386__)
// Four pixels per step: twelve bytes shuffled into sixteen. A load takes 16
// bytes for 12, so the loop stops while 4 bytes of the row are still ahead.
__attribute__((target("ssse3"))) void Rgb24ToRgb32Ssse3(const uint8_t* rgb, size_t width, uchar* line)
{
    const __m128i order = _mm_setr_epi8(2, 1, 0, -1, 5, 4, 3, -1, 8, 7, 6, -1, 11, 10, 9, -1);
    const __m128i alpha = _mm_set1_epi32(static_cast<int>(0xFF000000u));
    size_t x = 0;
    for (; x + 6 <= width; x += 4) {
        const __m128i in = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rgb + 3 * x));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(line + 4 * x),
                         _mm_or_si128(_mm_shuffle_epi8(in, order), alpha));
    }
    Rgb24ToRgb32Portable(rgb, x, width, line);
}
#endif

void Rgb24ToRgb32(const uint8_t* rgb, size_t width, uchar* line)
{
#if defined(__x86_64__) || defined(__i386__)
    static const bool ssse3 = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("ssse3") != 0;
    }();
    if (ssse3) {
        Rgb24ToRgb32Ssse3(rgb, width, line);
        return;
    }
#endif
    Rgb24ToRgb32Portable(rgb, 0, width, line);
}

} // namespace

QImage PictureToImage(const UYVYFrame& picture, QImage::Format format)
{
    const uint32_t width = picture.width();
    const uint32_t height = picture.height();
    const bool rgb32 = format == QImage::Format_RGB32;
    QImage image(static_cast<int>(width), static_cast<int>(height),
                 rgb32 ? QImage::Format_RGB32 : QImage::Format_RGB888);
    if (image.isNull()) {
        return image; // empty picture, or too large for an image
    }
    const size_t rowBytes = 2 * static_cast<size_t>(width);
    std::vector<uint8_t> rgb(rgb32 ? 3 * static_cast<size_t>(width) : 0);
    for (uint32_t row = 0; row < height; ++row) {
        const uint8_t* source = picture.data() + row * rowBytes;
        uchar* line = image.scanLine(static_cast<int>(row));
        if (!rgb32) {
            kro_v4l2::UYVYRowToRgb24(source, width, line);
            continue;
        }
        kro_v4l2::UYVYRowToRgb24(source, width, rgb.data());
        Rgb24ToRgb32(rgb.data(), width, line);
    }
    return image;
}
