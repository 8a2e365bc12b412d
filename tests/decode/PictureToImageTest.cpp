#include "PictureToImage.h"

#include "UYVYFrame.h"

#include <gtest/gtest.h>

#include <QColor>
#include <QImage>
#include <algorithm>
#include <initializer_list>
#include <vector>

namespace {

// Worked values of the video-range BT.601 conversion (Y, U, V in the
// comment), so that a wrong formula fails here too.
const QRgb kRed = qRgb(254, 0, 0);         // 81, 90, 240: green -0.538 truncated, blue -1 clamped
const QRgb kGreen = qRgb(0, 255, 0);       // 145, 54, 34
const QRgb kBlue = qRgb(0, 0, 255);        // 41, 240, 110
const QRgb kBlack = qRgb(0, 0, 0);         // 16, 128, 128
const QRgb kGrey254 = qRgb(254, 254, 254); // 235, 128, 128: 254.916 truncated
const QRgb kGrey130 = qRgb(130, 130, 130); // 128, 128, 128
const QRgb kWhite = qRgb(255, 255, 255);   // 255, 128, 128: 278 clamped

void Fill(UYVYFrame& picture, std::initializer_list<uint8_t> bytes)
{
    std::copy(bytes.begin(), bytes.end(), picture.data());
}

TEST(UYVYFrame, LayoutTables)
{
    UYVYFrame picture(6, 4);
    EXPECT_EQ(picture.width(), 6u);
    EXPECT_EQ(picture.height(), 4u);
    EXPECT_EQ(picture.stride()[0], 12);
    EXPECT_EQ(picture.stride()[1], 0);
    EXPECT_EQ(picture.planes()[0], picture.data());
    EXPECT_EQ(picture.planes()[1], nullptr);
}

// Converts `bytes` as a picture of `width` x `height` and compares the image
// with `rows`, pixel by pixel.
void ExpectImage(uint32_t width, uint32_t height, std::initializer_list<uint8_t> bytes,
                 const std::vector<std::vector<QRgb>>& rows)
{
    UYVYFrame picture(width, height);
    Fill(picture, bytes);
    const QImage image = PictureToImage(picture);
    ASSERT_EQ(image.format(), QImage::Format_RGB888);
    ASSERT_EQ(image.size(), QSize(static_cast<int>(width), static_cast<int>(height)));
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            EXPECT_EQ(image.pixel(x, y), rows[static_cast<size_t>(y)][static_cast<size_t>(x)])
                << "pixel " << x << ", " << y;
        }
    }
}

// Each row comes from its own 2 * width bytes, read on from the row before;
// each quad U, Y0, V, Y1 gives two pixels of the same chroma. With an odd
// width the last column is converted too, with the chroma of the pair before
// it (the byte in front of its Y, 200, is not read as chroma).
TEST(PictureToImage, RowsComeFromConsecutiveBytes)
{
    ExpectImage(4, 2, {90, 81, 240, 81, 128, 235, 128, 128, 54, 145, 34, 145, 240, 41, 110, 41},
                {{kRed, kRed, kGrey254, kGrey130}, {kGreen, kGreen, kBlue, kBlue}});
    ExpectImage(3, 2, {90, 81, 240, 81, 200, 81, 128, 16, 128, 235, 200, 255},
                {{kRed, kRed, kRed}, {kBlack, kGrey254, kWhite}});
}

TEST(PictureToImage, EmptyPictureGivesNullImage)
{
    UYVYFrame picture(0, 0);
    EXPECT_TRUE(PictureToImage(picture).isNull());
}

} // namespace
