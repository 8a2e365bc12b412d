#include "PictureToImage.h"

#include "UYVYFrame.h"
#include "X264Decoder.h"
#include "YUVToRgb.h"

#include <cstddef>
#include <cstdint>

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
    for (uint32_t row = 0; row < height; ++row) {
        const uint8_t* source = picture.data() + row * rowBytes;
        uchar* line = image.scanLine(static_cast<int>(row));
        if (rgb32) {
            kro_v4l2::UYVYRowToRgb32(source, width, line);
        } else {
            kro_v4l2::UYVYRowToRgb24(source, width, line);
        }
    }
    return image;
}

QImage DecodedPictureToImage(H264AvDecoder& decoder)
{
    uint32_t width = 0;
    uint32_t height = 0;
    if (!decoder.OutputSize(width, height)) {
        return QImage();
    }
    QImage image(static_cast<int>(width), static_cast<int>(height), QImage::Format_RGB32);
    if (image.isNull()) {
        return image;
    }
    if (decoder.ConvertToRgb32(image.bits(), static_cast<size_t>(image.bytesPerLine()))) {
        return image;
    }
    const UYVYFrame* picture = decoder.toBGR();
    return picture != nullptr ? PictureToImage(*picture, QImage::Format_RGB32) : QImage();
}
