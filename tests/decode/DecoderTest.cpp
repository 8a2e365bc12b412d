#include "X264Decoder.h"

#include "AnnexB.h"
#include "PictureToImage.h"
#include "UYVYFrame.h"
#include "YUVToRgb.h"

#include <gtest/gtest.h>

#include <QImage>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

// An access unit delimiter: lets the parser close the access unit before it.
const Bytes kAccessUnitDelimiter = {0, 0, 0, 1, 0x09, 0xF0};

struct Clip {
    uint32_t width = 0;
    uint32_t height = 0;
    bool chroma420 = true;     // else 4:4:4
    Bytes stream;              // Annex B
    std::vector<Bytes> frames; // reference decode, planar Y, U, V
};

uint32_t ChromaWidth(const Clip& clip)
{
    return clip.chroma420 ? (clip.width + 1) / 2 : clip.width;
}

uint32_t ChromaHeight(const Clip& clip)
{
    return clip.chroma420 ? (clip.height + 1) / 2 : clip.height;
}

Clip LoadClip(const std::string& name, uint32_t width, uint32_t height, bool chroma420 = true)
{
    const std::string base = std::string(QEL_DECODE_CLIPS_DIR) + "/" + name;
    Clip clip;
    clip.width = width;
    clip.height = height;
    clip.chroma420 = chroma420;
    clip.stream = ReadFileBytes(base + ".h264");
    const size_t frameSize =
        static_cast<size_t>(width) * height + 2 * static_cast<size_t>(ChromaWidth(clip)) * ChromaHeight(clip);
    const Bytes all = ReadFileBytes(base + ".yuv");
    for (size_t at = 0; at + frameSize <= all.size(); at += frameSize) {
        clip.frames.emplace_back(all.begin() + static_cast<std::ptrdiff_t>(at),
                                 all.begin() + static_cast<std::ptrdiff_t>(at + frameSize));
    }
    return clip;
}

// A UYVY picture against reference frame `index` of the clip: every luma
// sample equal, and for 4:2:0 every chroma sample equal to the one of its
// 2 x 2 block (the conversion repeats chroma rows). 4:4:4 chroma is
// subsampled by the scaler's filter, so there only the luma is compared.
testing::AssertionResult Matches(const Bytes& uyvy, const Clip& clip, size_t index)
{
    const uint32_t w = clip.width;
    const uint32_t h = clip.height;
    if (uyvy.size() != 2 * static_cast<size_t>(w) * h) {
        return testing::AssertionFailure() << "picture of " << uyvy.size() << " bytes";
    }
    // The scaler's filtered path (4:4:4 sources) may round luma by one.
    const int lumaTolerance = clip.chroma420 ? 0 : 1;
    const Bytes& ref = clip.frames.at(index);
    const uint8_t* planeY = ref.data();
    const uint8_t* planeU = planeY + static_cast<size_t>(w) * h;
    const uint8_t* planeV = planeU + static_cast<size_t>(ChromaWidth(clip)) * ChromaHeight(clip);
    for (uint32_t r = 0; r < h; ++r) {
        const uint8_t* row = uyvy.data() + 2 * static_cast<size_t>(w) * r;
        for (uint32_t x = 0; x < w; ++x) {
            if (std::abs(row[2 * x + 1] - planeY[r * w + x]) > lumaTolerance) {
                return testing::AssertionFailure()
                       << "luma at " << x << "," << r << ": " << int{row[2 * x + 1]} << " instead of "
                       << int{planeY[r * w + x]};
            }
        }
        if (!clip.chroma420) {
            continue;
        }
        for (uint32_t pair = 0; pair < w / 2; ++pair) {
            const size_t c = (r / 2) * static_cast<size_t>(ChromaWidth(clip)) + pair;
            if (row[4 * pair] != planeU[c] || row[4 * pair + 2] != planeV[c]) {
                return testing::AssertionFailure() << "chroma of pair " << pair << " in row " << r;
            }
        }
    }
    return testing::AssertionSuccess();
}

int NalType(const Bytes& unit)
{
    return unit[4] & 0x1F;
}

// The sink's form: the parameter sets travel in front of the key frame.
std::vector<Bytes> SinkPieces(const Bytes& stream)
{
    std::vector<Bytes> pieces;
    Bytes parameterSets;
    for (Bytes& unit : SplitNalUnits(stream)) {
        const int type = NalType(unit);
        if (type == 7 || type == 8) {
            parameterSets.insert(parameterSets.end(), unit.begin(), unit.end());
        } else if (type == 5) {
            Bytes piece = parameterSets;
            piece.insert(piece.end(), unit.begin(), unit.end());
            pieces.push_back(std::move(piece));
            parameterSets.clear();
        } else {
            pieces.push_back(std::move(unit));
        }
    }
    return pieces;
}

std::vector<Bytes> Chunks(const Bytes& stream, size_t size)
{
    std::vector<Bytes> chunks;
    for (size_t at = 0; at < stream.size(); at += size) {
        const size_t end = std::min(stream.size(), at + size);
        chunks.emplace_back(stream.begin() + static_cast<std::ptrdiff_t>(at),
                            stream.begin() + static_cast<std::ptrdiff_t>(end));
    }
    return chunks;
}

UYVYFrame* Decode(H264AvDecoder& decoder, const Bytes& bytes)
{
    return decoder.decode(bytes.data(), static_cast<uint32_t>(bytes.size()));
}

Bytes PictureBytes(const UYVYFrame& picture)
{
    return Bytes(picture.data(),
                 picture.data() + 2 * static_cast<size_t>(picture.width()) * picture.height());
}

// A decoder that was given every piece and then a delimiter, with the
// pictures it returned, in order.
struct Decoded {
    std::vector<Bytes> pictures;
    std::vector<const UYVYFrame*> objects;
    std::vector<std::pair<uint32_t, uint32_t>> sizes;
};

void Feed(H264AvDecoder& decoder, const std::vector<Bytes>& pieces, Decoded& run)
{
    for (const Bytes& piece : pieces) {
        if (const UYVYFrame* picture = Decode(decoder, piece)) {
            run.pictures.push_back(PictureBytes(*picture));
            run.objects.push_back(picture);
            run.sizes.emplace_back(picture->width(), picture->height());
        }
    }
}

void Flush(H264AvDecoder& decoder, Decoded& run)
{
    Feed(decoder, {kAccessUnitDelimiter}, run);
}

class DecoderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        decoder_.initilalize();
        main_ = LoadClip("main_320x240", 320, 240);
        ASSERT_FALSE(main_.stream.empty());
        ASSERT_EQ(main_.frames.size(), 12u);
    }

    H264AvDecoder decoder_;
    Clip main_;
};

TEST_F(DecoderTest, ParameterSetsAloneGiveNoPictureAndNoErrorLine)
{
    const std::vector<Bytes> units = SplitNalUnits(main_.stream);
    ASSERT_EQ(NalType(units[0]), 7);
    ASSERT_EQ(NalType(units[1]), 8);
    testing::internal::CaptureStdout();
    EXPECT_EQ(Decode(decoder_, units[0]), nullptr);
    EXPECT_EQ(Decode(decoder_, units[1]), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

// NAL unit by NAL unit, as the RTSP sink delivers them: every picture comes
// out once, in order, equal to the reference decoder's, always in the same
// object.
TEST_F(DecoderTest, NalUnitsOneByOneGiveEveryPicture)
{
    testing::internal::CaptureStdout();
    Decoded run;
    Feed(decoder_, SplitNalUnits(main_.stream), run);
    Flush(decoder_, run);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    ASSERT_EQ(run.pictures.size(), main_.frames.size());
    for (size_t i = 0; i < run.pictures.size(); ++i) {
        EXPECT_TRUE(Matches(run.pictures[i], main_, i)) << "picture " << i;
        EXPECT_EQ(run.objects[i], run.objects[0]);
    }
}

// Pictures larger than the views are sampled down to their size: each output
// pixel is the source pixel under its centre, each pair with the chroma of
// its first pixel; the RGB32 image of the views has the RGB888 image's colours.
TEST_F(DecoderTest, LargerPicturesAreSampledToTheViewSize)
{
    constexpr uint32_t kWidth = 100;
    constexpr uint32_t kHeight = 60;
    decoder_.SetMaxOutputSize(kWidth, kHeight);
    Decoded run;
    Feed(decoder_, SplitNalUnits(main_.stream), run);
    Flush(decoder_, run);
    ASSERT_EQ(run.pictures.size(), main_.frames.size());
    for (size_t i = 0; i < run.pictures.size(); ++i) {
        const Bytes& ref = main_.frames[i];
        const Bytes& out = run.pictures[i];
        ASSERT_EQ(out.size(), 2u * kWidth * kHeight);
        const uint8_t* planeU = ref.data() + 320 * 240;
        const uint8_t* planeV = planeU + 160 * 120;
        for (uint32_t y = 0; y < kHeight; ++y) {
            const uint32_t row = (2 * y + 1) * 240 / (2 * kHeight);
            for (uint32_t x = 0; x < kWidth; ++x) {
                const uint32_t column = (2 * x + 1) * 320 / (2 * kWidth);
                const uint8_t* pair = out.data() + 2 * (y * kWidth + x - x % 2);
                ASSERT_EQ(pair[1 + 2 * (x % 2)], ref[row * 320 + column]) << x << "," << y;
                if (x % 2 == 0) {
                    ASSERT_EQ(pair[0], planeU[(row / 2) * 160 + column / 2]) << x << "," << y;
                    ASSERT_EQ(pair[2], planeV[(row / 2) * 160 + column / 2]) << x << "," << y;
                }
            }
        }
    }
    const UYVYFrame* last = decoder_.toBGR();
    ASSERT_NE(last, nullptr);
    const QImage rgb888 = PictureToImage(*last);
    const QImage rgb32 = PictureToImage(*last, QImage::Format_RGB32);
    ASSERT_EQ(rgb32.format(), QImage::Format_RGB32);
    EXPECT_EQ(rgb32.convertToFormat(QImage::Format_RGB888), rgb888);
}

// A still of the picture being shown, at the stream's own size, while the
// views get theirs: the reference decoder's last picture, and the views'
// picture left as it was.
TEST_F(DecoderTest, LastPictureAtItsOwnSizeBesideTheViewsSize)
{
    uint32_t width = 0;
    uint32_t height = 0;
    EXPECT_EQ(decoder_.LastPictureAtOwnSize(), nullptr);
    EXPECT_FALSE(decoder_.LastPictureSize(width, height));
    decoder_.SetMaxOutputSize(100, 60);
    Decoded run;
    Feed(decoder_, SplitNalUnits(main_.stream), run);
    Flush(decoder_, run);
    ASSERT_EQ(run.pictures.size(), main_.frames.size());

    const std::unique_ptr<UYVYFrame> still = decoder_.LastPictureAtOwnSize();
    ASSERT_NE(still, nullptr);
    ASSERT_TRUE(decoder_.LastPictureSize(width, height));
    EXPECT_EQ(width, 320u);
    EXPECT_EQ(height, 240u);
    EXPECT_EQ(still->width(), 320u);
    EXPECT_EQ(still->height(), 240u);
    EXPECT_TRUE(Matches(Bytes(still->data(), still->data() + 2 * 320 * 240), main_, main_.frames.size() - 1));
    const UYVYFrame* shown = decoder_.toBGR();
    ASSERT_NE(shown, nullptr);
    EXPECT_EQ(shown->width(), 100u);
    EXPECT_EQ(Bytes(shown->data(), shown->data() + 2 * 100 * 60), run.pictures.back());
}

TEST_F(DecoderTest, KeyFramesWithParameterSetsInFront)
{
    Decoded run;
    Feed(decoder_, SinkPieces(main_.stream), run);
    Flush(decoder_, run);
    ASSERT_EQ(run.pictures.size(), main_.frames.size());
    for (size_t i = 0; i < run.pictures.size(); ++i) {
        EXPECT_TRUE(Matches(run.pictures[i], main_, i)) << "picture " << i;
    }
}

// Input cut anywhere: no picture is lost or damaged; a call that completes
// several pictures returns the latest.
TEST_F(DecoderTest, InputCutAnywhere)
{
    for (const size_t chunk : {size_t{1000}, size_t{7}, main_.stream.size()}) {
        H264AvDecoder decoder;
        decoder.initilalize();
        Decoded run;
        Feed(decoder, Chunks(main_.stream, chunk), run);
        Flush(decoder, run);
        ASSERT_FALSE(run.pictures.empty());
        EXPECT_TRUE(Matches(run.pictures.back(), main_, main_.frames.size() - 1)) << "chunk " << chunk;
        size_t next = 0;
        for (const Bytes& picture : run.pictures) {
            while (next < main_.frames.size() && !Matches(picture, main_, next)) {
                ++next;
            }
            EXPECT_LT(next, main_.frames.size()) << "chunk " << chunk << ": unknown or reordered picture";
            ++next;
        }
        if (chunk == 7) {
            EXPECT_EQ(run.pictures.size(), main_.frames.size());
        }
    }
}

// A stream that changes its picture size: the picture follows it, and the
// pictures of both sizes are right.
TEST_F(DecoderTest, SizeChangeMidStream)
{
    const Clip small = LoadClip("main_176x144", 176, 144);
    ASSERT_EQ(small.frames.size(), 6u);
    Decoded run;
    Feed(decoder_, SplitNalUnits(main_.stream), run);
    Feed(decoder_, SplitNalUnits(small.stream), run);
    Feed(decoder_, SplitNalUnits(main_.stream), run);
    Flush(decoder_, run);
    ASSERT_EQ(run.pictures.size(), 12u + 6u + 12u);
    for (size_t i = 0; i < run.pictures.size(); ++i) {
        const bool isSmall = i >= 12 && i < 18;
        EXPECT_EQ(run.sizes[i], isSmall ? std::make_pair(176u, 144u) : std::make_pair(320u, 240u));
        EXPECT_TRUE(isSmall ? Matches(run.pictures[i], small, i - 12)
                            : Matches(run.pictures[i], main_, i % 18 % 12))
            << "picture " << i;
    }
}

// Up to 720x576 one thread decodes each picture within the call that
// completes it. A larger stream switches to the codec's threads, which hold
// pictures back by one call per extra thread but give the very pictures of a
// one-thread decode; a smaller stream after it switches back.
TEST_F(DecoderTest, ThreadsFollowThePictureSize)
{
    const Clip large = LoadClip("main_1920x1080", 1920, 1080);
    ASSERT_EQ(large.frames.size(), 8u);
    constexpr int kThreads = 3;
    decoder_.SetMaxThreads(kThreads);
    EXPECT_EQ(decoder_.DecodingThreads(), 1);

    Decoded run;
    Feed(decoder_, SplitNalUnits(main_.stream), run);
    EXPECT_EQ(decoder_.DecodingThreads(), 1);
    // Only the last picture waits, for the start of the next one.
    EXPECT_EQ(run.pictures.size(), main_.frames.size() - 1);

    Feed(decoder_, SplitNalUnits(large.stream), run);
    EXPECT_EQ(decoder_.DecodingThreads(), kThreads);
    Feed(decoder_, SplitNalUnits(main_.stream), run);
    EXPECT_EQ(decoder_.DecodingThreads(), 1);
    Flush(decoder_, run);

    // The large pictures held back when the small stream came are taken out
    // at the switch; the call that does so returns the small stream's first.
    const size_t largeShown = large.frames.size() - (kThreads - 1);
    ASSERT_EQ(run.pictures.size(), 2 * main_.frames.size() + largeShown);
    for (size_t i = 0; i < run.pictures.size(); ++i) {
        const bool isLarge = i >= main_.frames.size() && i < main_.frames.size() + largeShown;
        EXPECT_EQ(run.sizes[i], isLarge ? std::make_pair(1920u, 1080u) : std::make_pair(320u, 240u));
        const size_t index = isLarge ? i - main_.frames.size() : i % (main_.frames.size() + largeShown);
        EXPECT_TRUE(Matches(run.pictures[i], isLarge ? large : main_, index)) << "picture " << i;
    }
}

// The views' image straight from the decoder's planes has the bytes of the
// UYVY picture's conversion: at the picture's own size and sampled down.
// Pictures it cannot take that way (4:4:4) go through the UYVY picture.
TEST_F(DecoderTest, ViewImageEqualsTheUyvyPicturesConversion)
{
    const Clip odd = LoadClip("odd_33x18", 33, 18, false);
    const std::pair<uint32_t, uint32_t> outputSizes[] = {{0, 0}, {100, 60}};
    for (const Clip* clip : {static_cast<const Clip*>(&main_), &odd}) {
        for (const auto& [width, height] : outputSizes) {
            H264AvDecoder decoder;
            decoder.initilalize();
            decoder.SetMaxOutputSize(width, height);
            std::vector<Bytes> pieces = SplitNalUnits(clip->stream);
            pieces.push_back(kAccessUnitDelimiter);
            size_t pictures = 0;
            for (const Bytes& piece : pieces) {
                if (!decoder.DecodePicture(piece.data(), static_cast<uint32_t>(piece.size()))) {
                    continue;
                }
                ++pictures;
                const QImage image = DecodedPictureToImage(decoder);
                const UYVYFrame* picture = decoder.toBGR();
                ASSERT_NE(picture, nullptr);
                ASSERT_EQ(image.format(), QImage::Format_RGB32);
                EXPECT_EQ(image, PictureToImage(*picture, QImage::Format_RGB32))
                    << clip->width << "x" << clip->height << " at most " << width << "x" << height;
            }
            EXPECT_EQ(pictures, clip->frames.size());
        }
    }
}

TEST_F(DecoderTest, PicturesOfSeveralSlices)
{
    const Clip slices = LoadClip("slices_320x240", 320, 240);
    const std::vector<Bytes> units = SplitNalUnits(slices.stream);
    ASSERT_GT(units.size(), 4 * slices.frames.size()); // really several slices per picture
    Decoded run;
    Feed(decoder_, units, run);
    Flush(decoder_, run);
    ASSERT_EQ(run.pictures.size(), slices.frames.size());
    for (size_t i = 0; i < run.pictures.size(); ++i) {
        EXPECT_TRUE(Matches(run.pictures[i], slices, i)) << "picture " << i;
    }
}

// A 4:4:4 stream of odd width: the luma of every pixel arrives, and the image
// converts the lone last column from the chroma of the pair before it.
TEST_F(DecoderTest, OddWidthPicture)
{
    const Clip odd = LoadClip("odd_33x18", 33, 18, false);
    ASSERT_EQ(odd.frames.size(), 3u);
    size_t seen = 0;
    std::vector<Bytes> pieces = SplitNalUnits(odd.stream);
    pieces.push_back(kAccessUnitDelimiter);
    for (const Bytes& piece : pieces) {
        const UYVYFrame* picture = Decode(decoder_, piece);
        if (picture == nullptr) {
            continue;
        }
        ASSERT_EQ(picture->width(), 33u);
        ASSERT_EQ(picture->height(), 18u);
        EXPECT_TRUE(Matches(PictureBytes(*picture), odd, seen)) << "picture " << seen;
        ++seen;
        const uint8_t* bytes = picture->data();
        const QImage image = PictureToImage(*picture);
        for (int row = 0; row < 18; ++row) {
            const uint8_t* last = bytes + row * 66 + 64; // U, Y of the lone pixel
            unsigned char b = 0, g = 0, r = 0;
            kro_v4l2::YUVToRgb(last[1], last[-4], last[-2], b, g, r);
            EXPECT_EQ(image.pixel(32, row), qRgb(r, g, b)) << "row " << row;
        }
    }
    EXPECT_EQ(seen, 3u);
}

// Bytes that are no H.264 at all, and damaged NAL units: no crash, no read
// outside the input, and the decoder still decodes a good stream afterwards.
TEST_F(DecoderTest, GarbageAndDamagedInputThenRecovery)
{
    std::mt19937 random(2024);
    std::uniform_int_distribution<int> byte(0, 255);
    testing::internal::CaptureStdout();
    for (int i = 0; i < 200; ++i) {
        Bytes noise(static_cast<size_t>(1 + i * 37 % 3000));
        for (auto& b : noise) {
            b = static_cast<uint8_t>(byte(random));
        }
        if (i % 3 == 0) {
            noise.insert(noise.begin(), {0, 0, 0, 1, static_cast<uint8_t>(0x61 + i % 8)});
        }
        Decode(decoder_, noise);
    }
    const std::vector<Bytes> units = SplitNalUnits(main_.stream);
    for (Bytes unit : units) {
        unit.resize(unit.size() / 2); // every NAL unit cut in half
        Decode(decoder_, unit);
    }
    for (Bytes unit : units) {
        for (size_t k = 5; k < unit.size(); k += 97) {
            unit[k] ^= 0x5A; // flipped bits
        }
        Decode(decoder_, unit);
    }
    testing::internal::GetCapturedStdout(); // error lines are allowed here

    Decoded run;
    Feed(decoder_, SplitNalUnits(main_.stream), run);
    Flush(decoder_, run);
    // Damaged input may leave the decoder holding one more picture back for
    // reordering; every picture of the good stream must still come out right
    // and in order.
    size_t next = 0;
    size_t matched = 0;
    for (const Bytes& picture : run.pictures) {
        size_t k = next;
        while (k < main_.frames.size() && !Matches(picture, main_, k)) {
            ++k;
        }
        if (k < main_.frames.size()) {
            ++matched;
            next = k + 1;
        }
    }
    EXPECT_GE(matched, main_.frames.size() - 1);
}

TEST(DecoderLifecycle, UninitialisedDecoderReturnsNullAndDestroysCleanly)
{
    H264AvDecoder decoder;
    const Bytes unit = {0, 0, 0, 1, 0x67, 0x4D, 0x00, 0x1E};
    EXPECT_EQ(decoder.decode(unit.data(), static_cast<uint32_t>(unit.size())), nullptr);
    EXPECT_EQ(decoder.toBGR(), nullptr);
}

TEST(DecoderLifecycle, ConversionBeforeAnyPictureFailsWithErrorLine)
{
    H264AvDecoder decoder;
    decoder.initilalize();
    testing::internal::CaptureStdout();
    EXPECT_EQ(decoder.toBGR(), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "[x264Decoder ERROR] sws_getContext error\n");
}

} // namespace
