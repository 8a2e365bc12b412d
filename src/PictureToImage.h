#pragma once

#include <QImage>

class H264AvDecoder;
class UYVYFrame;

// Turns a decoded UYVY picture into the image that the video views show, in
// QImage::Format_RGB888 or, for painting without a conversion on every paint,
// QImage::Format_RGB32 (the format of the window's backing store); both carry
// the same colours. Every row starts at its own 2 * width bytes of the
// picture, and an odd last column takes the chroma of the pixel pair before it.
QImage PictureToImage(const UYVYFrame& picture, QImage::Format format = QImage::Format_RGB888);

// The picture the decoder completed last, as the video views show it: in
// QImage::Format_RGB32, at the decoder's output size, with the colours that
// PictureToImage gives its UYVY picture. Converted straight from the
// decoder's planes where it can, else through its UYVY picture. A null image
// before the first picture or when the conversion fails.
QImage DecodedPictureToImage(H264AvDecoder& decoder);
