#include "PictureToImage.h"

#include "UYVYFrame.h"
#include "YUVToRgb.h"

#include <cstddef>
#include <vector>

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
        auto* pixels = reinterpret_cast<QRgb*>(line);
        for (uint32_t x = 0; x < width; ++x) {
            pixels[x] = qRgb(rgb[3 * x], rgb[3 * x + 1], rgb[3 * x + 2]);
        }
    }
    return image;
}
