#include "PictureToImage.h"

#include "UYVYFrame.h"
#include "YUVToRgb.h"

#include <cstddef>

QImage PictureToImage(const UYVYFrame& picture) {
    const uint32_t width = picture.width();
    const uint32_t height = picture.height();
    QImage image(static_cast<int>(width), static_cast<int>(height), QImage::Format_RGB888);
    if (image.isNull()) {
        return image;  // empty picture, or too large for an image
    }
    const size_t rowBytes = 2 * static_cast<size_t>(width);
    for (uint32_t row = 0; row < height; ++row) {
        kro_v4l2::UYVYRowToRgb24(picture.data() + row * rowBytes, width,
                                 image.scanLine(static_cast<int>(row)));
    }
    return image;
}
