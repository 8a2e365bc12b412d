#include "PictureToImage.h"

#include "UYVYFrame.h"
#include "YUVToRgb.h"

#include <gtest/gtest.h>

#include <QColor>
#include <QImage>
#include <algorithm>
#include <initializer_list>

namespace {

QRgb Expected(uint8_t y, uint8_t u, uint8_t v)
{
    unsigned char b = 0, g = 0, r = 0;
    kro_v4l2::YUVToRgb(y, u, v, b, g, r);
    return qRgb(r, g, b);
}

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

// Row 0 comes from bytes 0..7 of the picture and row 1 from bytes 8..15.
TEST(PictureToImage, FourByTwoRowsComeFromConsecutiveBytes)
{
    UYVYFrame picture(4, 2);
    Fill(picture, {90, 81, 240, 16, 128, 235, 128, 128, 54, 145, 34, 255, 240, 41, 110, 16});
    const QImage image = PictureToImage(picture);
    ASSERT_EQ(image.format(), QImage::Format_RGB888);
    ASSERT_EQ(image.size(), QSize(4, 2));
    EXPECT_EQ(image.pixel(0, 0), Expected(81, 90, 240));
    EXPECT_EQ(image.pixel(1, 0), Expected(16, 90, 240));
    EXPECT_EQ(image.pixel(2, 0), qRgb(254, 254, 254));
    EXPECT_EQ(image.pixel(3, 0), qRgb(130, 130, 130));
    EXPECT_EQ(image.pixel(0, 1), qRgb(0, 255, 0));
    EXPECT_EQ(image.pixel(1, 1), Expected(255, 54, 34));
    EXPECT_EQ(image.pixel(2, 1), qRgb(0, 0, 255));
    EXPECT_EQ(image.pixel(3, 1), Expected(16, 240, 110));
}

// An odd width: every row starts at its own 2 * width bytes, and the last
// column is converted too.
TEST(PictureToImage, OddWidthRowsStartAtTheirOwnBytes)
{
    UYVYFrame picture(3, 2);
    Fill(picture, {90, 81, 240, 16, 200, 235, 54, 145, 34, 255, 128, 41});
    const QImage image = PictureToImage(picture);
    ASSERT_EQ(image.size(), QSize(3, 2));
    EXPECT_EQ(image.pixel(0, 0), Expected(81, 90, 240));
    EXPECT_EQ(image.pixel(1, 0), Expected(16, 90, 240));
    EXPECT_EQ(image.pixel(2, 0), Expected(235, 90, 240));
    EXPECT_EQ(image.pixel(0, 1), qRgb(0, 255, 0));
    EXPECT_EQ(image.pixel(1, 1), Expected(255, 54, 34));
    EXPECT_EQ(image.pixel(2, 1), Expected(41, 54, 34));
}

TEST(PictureToImage, EmptyPictureGivesNullImage)
{
    UYVYFrame picture(0, 0);
    EXPECT_TRUE(PictureToImage(picture).isNull());
}

} // namespace
