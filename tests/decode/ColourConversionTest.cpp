#include "YUVToRgb.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <random>
#include <vector>

namespace {

struct Rgb {
    unsigned red, green, blue;
    bool operator==(const Rgb& other) const
    {
        return red == other.red && green == other.green && blue == other.blue;
    }
};

std::ostream& operator<<(std::ostream& os, const Rgb& c)
{
    return os << "(" << c.red << ", " << c.green << ", " << c.blue << ")";
}

Rgb Reference(uint8_t y, uint8_t u, uint8_t v)
{
    unsigned char b = 0, g = 0, r = 0;
    kro_v4l2::YUVToRgb(y, u, v, b, g, r);
    return {r, g, b};
}

using RowConversion = void (*)(const uint8_t*, uint32_t, uint8_t*);

// The dispatched conversion (AVX2 where the processor has it) and the
// portable loops, which must give the same bytes.
struct NamedConversion {
    const char* name;
    RowConversion convert;
};
const NamedConversion kConversions[] = {
    {"dispatched", kro_v4l2::UYVYRowToRgb24},
    {"portable", kro_v4l2::detail::UYVYRowToRgb24Portable},
};

Rgb PixelAt(const std::vector<uint8_t>& rgb, size_t x)
{
    return {rgb[3 * x], rgb[3 * x + 1], rgb[3 * x + 2]};
}

// One row of every luma value at one chroma (U, V), as UYVY and as a luma
// plane, with the reference colour of each (Y, U, V).
constexpr uint32_t kAllLuma = 256;
struct AllLumaRows {
    int u = 0;
    int v = 0;
    std::vector<uint8_t> uyvy = std::vector<uint8_t>(2 * kAllLuma);
    std::vector<uint8_t> luma = std::vector<uint8_t>(kAllLuma);
    std::array<Rgb, kAllLuma> expected{};
};

// Calls `test` for every (U, V), twice each: with even and with odd luma in
// the first pixel of each pair. The reference is computed once per (U, V).
template <typename Test> void ForEveryChroma(Test test)
{
    AllLumaRows rows;
    for (rows.u = 0; rows.u < 256; ++rows.u) {
        for (rows.v = 0; rows.v < 256; ++rows.v) {
            for (uint32_t y = 0; y < kAllLuma; ++y) {
                rows.expected[y] = Reference(static_cast<uint8_t>(y), static_cast<uint8_t>(rows.u),
                                             static_cast<uint8_t>(rows.v));
            }
            for (uint32_t swap = 0; swap < 2; ++swap) {
                for (uint32_t pair = 0; pair < kAllLuma / 2; ++pair) {
                    rows.luma[2 * pair] = static_cast<uint8_t>(2 * pair + swap);
                    rows.luma[2 * pair + 1] = static_cast<uint8_t>(2 * pair + 1 - swap);
                    rows.uyvy[4 * pair] = static_cast<uint8_t>(rows.u);
                    rows.uyvy[4 * pair + 1] = rows.luma[2 * pair];
                    rows.uyvy[4 * pair + 2] = static_cast<uint8_t>(rows.v);
                    rows.uyvy[4 * pair + 3] = rows.luma[2 * pair + 1];
                }
                test(static_cast<const AllLumaRows&>(rows));
            }
        }
    }
}

// Reference conversion of a whole UYVY row, pixel by pixel.
std::vector<uint8_t> ReferenceRow(const std::vector<uint8_t>& uyvy, uint32_t width)
{
    std::vector<uint8_t> rgb(3 * width);
    for (uint32_t x = 0; x < width; ++x) {
        uint32_t pair = x / 2;
        if (x == width - 1 && width % 2 != 0) {
            pair = x / 2 - 1; // a lone last pixel takes the chroma of the pair before it
        }
        const uint8_t u = uyvy[4 * pair];
        const uint8_t v = uyvy[4 * pair + 2];
        const uint8_t y = uyvy[2 * x + 1];
        const Rgb c = Reference(y, u, v);
        rgb[3 * x] = static_cast<uint8_t>(c.red);
        rgb[3 * x + 1] = static_cast<uint8_t>(c.green);
        rgb[3 * x + 2] = static_cast<uint8_t>(c.blue);
    }
    return rgb;
}

TEST(YUVToRgb, KnownValues)
{
    EXPECT_EQ(Reference(16, 128, 128), (Rgb{0, 0, 0}));
    EXPECT_EQ(Reference(235, 128, 128), (Rgb{254, 254, 254})); // 254.916 truncated
    EXPECT_EQ(Reference(255, 128, 128), (Rgb{255, 255, 255})); // 278 clamped
    EXPECT_EQ(Reference(128, 128, 128), (Rgb{130, 130, 130}));
    EXPECT_EQ(Reference(81, 90, 240), (Rgb{254, 0, 0})); // green -0.538 truncates to 0, blue -1 clamps
    EXPECT_EQ(Reference(145, 54, 34), (Rgb{0, 255, 0}));
    EXPECT_EQ(Reference(41, 240, 110), (Rgb{0, 0, 255}));
}

TEST(YUVToRgb, OutputReferencesAreBlueGreenRed)
{
    unsigned char first = 0, second = 0, third = 0;
    kro_v4l2::YUVToRgb(41, 240, 110, first, second, third);
    EXPECT_EQ(first, 255);
    EXPECT_EQ(third, 0);
    kro_v4l2::YUVToRgb(81, 90, 240, first, second, third);
    EXPECT_EQ(first, 0);
    EXPECT_EQ(third, 254);
}

// The fast row conversions against the reference formula for every (Y, U, V):
// one row per (U, V) holds all 256 luma values, once with even and once with
// odd luma in the first pixel of each pair.
TEST(UYVYRowToRgb24, EqualsReferenceForAllInputs)
{
    std::vector<uint8_t> rgb(3 * kAllLuma);
    size_t mismatches = 0;
    ForEveryChroma([&](const AllLumaRows& rows) {
        for (const NamedConversion& conversion : kConversions) {
            conversion.convert(rows.uyvy.data(), kAllLuma, rgb.data());
            for (uint32_t x = 0; x < kAllLuma; ++x) {
                if (!(PixelAt(rgb, x) == rows.expected[rows.luma[x]]) && ++mismatches <= 10) {
                    ADD_FAILURE() << conversion.name << ": Y " << int{rows.luma[x]} << " U " << rows.u
                                  << " V " << rows.v;
                }
            }
        }
    });
    EXPECT_EQ(mismatches, 0u);
}

// The 32-bit pixel conversions (blue, green, red, 0xff in memory) from UYVY
// rows and from planar rows, dispatched and portable, against the reference
// for every (Y, U, V), arranged as in the test above.
TEST(RowToRgb32, EqualsReferenceForAllInputs)
{
    std::vector<uint8_t> blue(kAllLuma / 2);
    std::vector<uint8_t> red(kAllLuma / 2);
    std::vector<uint8_t> out(4 * kAllLuma);
    size_t mismatches = 0;
    auto check = [&](const char* name, const AllLumaRows& rows) {
        for (uint32_t x = 0; x < kAllLuma; ++x) {
            const Rgb& e = rows.expected[rows.luma[x]];
            const std::array<uint8_t, 4> pixel{static_cast<uint8_t>(e.blue), static_cast<uint8_t>(e.green),
                                               static_cast<uint8_t>(e.red), 0xFF};
            if (!std::equal(pixel.begin(), pixel.end(), out.begin() + 4 * x) && ++mismatches <= 10) {
                ADD_FAILURE() << name << ": Y " << int{rows.luma[x]} << " U " << rows.u << " V " << rows.v;
            }
        }
    };
    ForEveryChroma([&](const AllLumaRows& rows) {
        std::fill(blue.begin(), blue.end(), static_cast<uint8_t>(rows.u));
        std::fill(red.begin(), red.end(), static_cast<uint8_t>(rows.v));
        kro_v4l2::UYVYRowToRgb32(rows.uyvy.data(), kAllLuma, out.data());
        check("UYVY dispatched", rows);
        kro_v4l2::detail::UYVYRowToRgb32Portable(rows.uyvy.data(), kAllLuma, out.data());
        check("UYVY portable", rows);
        kro_v4l2::PlanarRowToRgb32(rows.luma.data(), blue.data(), red.data(), kAllLuma, out.data());
        check("planar dispatched", rows);
        kro_v4l2::detail::PlanarRowToRgb32Portable(rows.luma.data(), blue.data(), red.data(), kAllLuma,
                                                   out.data());
        check("planar portable", rows);
    });
    EXPECT_EQ(mismatches, 0u);
}

// Any width, random content, buffers exactly as large as the row: the UYVY
// form gives the RGB24 conversion's colours; the planar form gives each
// pixel the chroma sample x / 2, an odd last pixel its own.
TEST(RowToRgb32, AnyWidthMatchesReferenceAndStaysInBounds)
{
    std::mt19937 random(32);
    std::uniform_int_distribution<int> byte(0, 255);
    auto fill = [&](std::vector<uint8_t>& bytes) {
        for (auto& b : bytes) {
            b = static_cast<uint8_t>(byte(random));
        }
    };
    for (const uint32_t width : {2u, 3u, 15u, 16u, 17u, 33u, 720u, 1023u, 1024u, 1025u, 1921u}) {
        std::vector<uint8_t> row(2 * width);
        fill(row);
        const std::vector<uint8_t> rgb24 = ReferenceRow(row, width);
        std::vector<uint8_t> luma(width);
        std::vector<uint8_t> blue((width + 1) / 2);
        std::vector<uint8_t> red((width + 1) / 2);
        fill(luma);
        fill(blue);
        fill(red);
        std::vector<uint8_t> planar(4 * static_cast<size_t>(width));
        for (uint32_t x = 0; x < width; ++x) {
            const Rgb c = Reference(luma[x], blue[x / 2], red[x / 2]);
            planar[4 * x] = static_cast<uint8_t>(c.blue);
            planar[4 * x + 1] = static_cast<uint8_t>(c.green);
            planar[4 * x + 2] = static_cast<uint8_t>(c.red);
            planar[4 * x + 3] = 0xFF;
        }
        for (const bool portable : {false, true}) {
            std::vector<uint8_t> out(4 * static_cast<size_t>(width), 0xAA);
            (portable ? kro_v4l2::detail::UYVYRowToRgb32Portable
                      : kro_v4l2::UYVYRowToRgb32)(row.data(), width, out.data());
            for (uint32_t x = 0; x < width; ++x) {
                EXPECT_EQ(out[4 * x], rgb24[3 * x + 2]) << "width " << width << ", pixel " << x;
                EXPECT_EQ(out[4 * x + 1], rgb24[3 * x + 1]) << "width " << width << ", pixel " << x;
                EXPECT_EQ(out[4 * x + 2], rgb24[3 * x]) << "width " << width << ", pixel " << x;
                EXPECT_EQ(out[4 * x + 3], 0xFF) << "width " << width << ", pixel " << x;
            }
            std::vector<uint8_t> fromPlanes(4 * static_cast<size_t>(width), 0xAA);
            (portable ? kro_v4l2::detail::PlanarRowToRgb32Portable : kro_v4l2::PlanarRowToRgb32)(
                luma.data(), blue.data(), red.data(), width, fromPlanes.data());
            EXPECT_EQ(fromPlanes, planar) << (portable ? "portable" : "dispatched") << ", width " << width;
        }
    }
}

// Widths around the internal block size and odd widths, random content; the
// buffers are exactly as large as the row so that the sanitizer catches any
// access beyond it.
TEST(UYVYRowToRgb24, AnyWidthMatchesReferenceAndStaysInBounds)
{
    std::mt19937 random(8);
    std::uniform_int_distribution<int> byte(0, 255);
    const uint32_t widths[] = {2, 3, 4, 5, 7, 16, 33, 720, 1023, 1024, 1025, 1026, 2047, 2048, 2049, 1921};
    for (const uint32_t width : widths) {
        std::vector<uint8_t> row(2 * width);
        for (auto& b : row) {
            b = static_cast<uint8_t>(byte(random));
        }
        for (const NamedConversion& conversion : kConversions) {
            std::vector<uint8_t> rgb(3 * width, 0xAA);
            conversion.convert(row.data(), width, rgb.data());
            EXPECT_EQ(rgb, ReferenceRow(row, width)) << conversion.name << ", width " << width;
        }
    }
}

TEST(UYVYRowToRgb24, OddLastPixelTakesChromaOfPairBeforeIt)
{
    // Pair (U 90, Y 10, V 240, Y 20), then the lone pixel: U byte 54, Y 81;
    // exactly as many bytes as the row has.
    const std::vector<uint8_t> row = {90, 10, 240, 20, 54, 81};
    std::vector<uint8_t> rgb(9);
    kro_v4l2::UYVYRowToRgb24(row.data(), 3, rgb.data());
    EXPECT_EQ(PixelAt(rgb, 2), Reference(81, 90, 240));
    EXPECT_EQ(PixelAt(rgb, 2), (Rgb{254, 0, 0}));
}

TEST(UYVYRowToRgb24, OnePixelRowIsNeutralChroma)
{
    const std::vector<uint8_t> row = {200, 128};
    std::vector<uint8_t> rgb(3);
    kro_v4l2::UYVYRowToRgb24(row.data(), 1, rgb.data());
    EXPECT_EQ(PixelAt(rgb, 0), (Rgb{130, 130, 130}));
}

} // namespace
