#pragma once

#include <QImage>

class UYVYFrame;

// Turns a decoded UYVY picture into the RGB888 image that the video views
// show. Every row starts at its own 2 * width bytes of the picture, and an odd
// last column takes the chroma of the pixel pair before it.
QImage PictureToImage(const UYVYFrame& picture);
