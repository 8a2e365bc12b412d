// Framing of received NAL units into the frames observers get, and the device's
// observer and parameter-set bookkeeping. A test source stands in for RTP.
#include "FramedSource.h"
#include "H264Sps.h"
#include "MediaSession.h"
#include "RtspDevice.h"
#include "RtspDeviceSink.h"
#include "TextUtils.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <ctime>
#include <future>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

// Hands out the units the test feeds, one per pending read, cut to the reader's size.
class FeedSource final : public FramedSource {
public:
    static FeedSource* createNew(UsageEnvironment& env) { return new FeedSource(env); }

    void Feed(const Bytes& unit, timeval presentationTime)
    {
        ASSERT_TRUE(isCurrentlyAwaitingData());
        fFrameSize = static_cast<unsigned>(std::min<size_t>(unit.size(), fMaxSize));
        fNumTruncatedBytes = static_cast<unsigned>(unit.size() - fFrameSize);
        std::memcpy(fTo, unit.data(), fFrameSize);
        fPresentationTime = presentationTime;
        afterGetting(this);
    }

private:
    explicit FeedSource(UsageEnvironment& env) : FramedSource(env) {}
    void doGetNextFrame() override {}
};

struct Received {
    Bytes bytes;
    kro::UnitKind kind = kro::UnitKind::Other;
    kro::ImageDescr descriptor;
};

class RecordingObserver final : public IFrameObserver {
public:
    void NotifyDataReceived(const kro::IVideoFrame* frame, kro::UnitKind kind) override
    {
        const auto* data = static_cast<const unsigned char*>(frame->getData());
        frames.push_back(Received{Bytes(data, data + frame->getSize()), kind, frame->getDescriptor()});
    }
    std::vector<Received> frames;
};

Bytes Nal(unsigned char header, size_t size)
{
    Bytes nal(size, 0xAB);
    nal[0] = header;
    return nal;
}

Bytes Cat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

const Bytes kStart = {0, 0, 0, 1};

class SinkTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // A 20-byte SPS and a 4-byte PPS.
        sps_ = Nal(0x67, 20);
        pps_ = Nal(0x68, 4);
        sprops_ = base64Encode(sps_.data(), sps_.size()) + "," + base64Encode(pps_.data(), pps_.size());
        const std::string sdp = "v=0\r\nm=video 0 RTP/AVP 96\r\na=rtpmap:96 H264/90000\r\n"
                                "a=fmtp:96 sprop-parameter-sets=" +
                                sprops_ + "\r\n";
        session_ = MediaSession::createNew(device_.envir(), sdp.c_str());
        ASSERT_NE(session_, nullptr);
        MediaSubsessionIterator iter(*session_);
        subsession_ = iter.next();
        source_ = FeedSource::createNew(device_.envir());
        device_.AddFrameObserver(&observer_);
    }

    void TearDown() override
    {
        Medium::close(sink_);
        Medium::close(source_);
        Medium::close(session_);
    }

    void StartSink(const char* sprops)
    {
        sink_ =
            RtspDeviceSink::createNew(device_.envir(), *subsession_, &device_, sprops, device_.Url().c_str());
        ASSERT_TRUE(sink_->startPlaying(*source_, nullptr, nullptr));
    }

    RtspDevice device_{"rtsp://127.0.0.1:9/ch0_unicast_firststream", "root", "vbnq", 0, nullptr, 0};
    RecordingObserver observer_;
    Bytes sps_;
    Bytes pps_;
    std::string sprops_;
    MediaSession* session_ = nullptr;
    MediaSubsession* subsession_ = nullptr;
    FeedSource* source_ = nullptr;
    RtspDeviceSink* sink_ = nullptr;
};

// Each unit comes with its kind: a slice's second byte starts with a 1 bit
// exactly in a picture's first slice.
TEST_F(SinkTest, SlicesGetAStartCodeAndIdrSlicesTheParameterSetsToo)
{
    StartSink(sprops_.c_str());
    const Bytes slice = Nal(0x41, 1200);
    const Bytes idr = Nal(0x65, 5000);
    const Bytes inbandSps = Nal(0x67, 20);
    source_->Feed(slice, timeval{1, 0});
    source_->Feed(idr, timeval{2, 0});
    source_->Feed(inbandSps, timeval{3, 0});
    source_->Feed(slice, timeval{12, 345678});

    ASSERT_EQ(observer_.frames.size(), 4u);
    EXPECT_EQ(observer_.frames[0].bytes.size(), 1204u);
    EXPECT_EQ(observer_.frames[0].bytes, Cat({kStart, slice}));
    EXPECT_EQ(observer_.frames[0].kind, kro::UnitKind::Picture);

    EXPECT_EQ(observer_.frames[1].bytes.size(), 5036u);
    EXPECT_EQ(observer_.frames[1].bytes, Cat({kStart, sps_, kStart, pps_, kStart, idr}));
    EXPECT_EQ(observer_.frames[1].kind, kro::UnitKind::KeyFrame);

    EXPECT_EQ(observer_.frames[2].bytes, Cat({kStart, inbandSps}));
    EXPECT_EQ(observer_.frames[2].kind, kro::UnitKind::ParameterSet);

    // After the larger key frame the buffer keeps its capacity; the size handed on is the frame's.
    EXPECT_EQ(observer_.frames[3].bytes.size(), 1204u);
    EXPECT_EQ(sink_->FrameBufferCapacity(), 5036u);
    const kro::ImageDescr& descriptor = observer_.frames[3].descriptor;
    EXPECT_EQ(descriptor.timestamp, 12345678);
    EXPECT_EQ(descriptor.format, kro::MediaFormat::VideoH264);
    EXPECT_EQ(descriptor.width, 0u);
    EXPECT_EQ(descriptor.height, 0u);

    Bytes idrMore = idr;
    idrMore[1] = 0x44;
    Bytes sliceMore = slice;
    sliceMore[1] = 0x44;
    source_->Feed(idrMore, timeval{13, 0});
    source_->Feed(sliceMore, timeval{13, 0});
    source_->Feed(Nal(0x06, 8), timeval{13, 0}); // SEI
    source_->Feed(Nal(0x41, 1), timeval{13, 0}); // a slice without its header
    ASSERT_EQ(observer_.frames.size(), 8u);
    EXPECT_EQ(observer_.frames[4].bytes, Cat({kStart, sps_, kStart, pps_, kStart, idrMore}));
    EXPECT_EQ(observer_.frames[4].kind, kro::UnitKind::KeyFrameSlice);
    EXPECT_EQ(observer_.frames[5].kind, kro::UnitKind::PictureSlice);
    EXPECT_EQ(observer_.frames[6].kind, kro::UnitKind::Other);
    EXPECT_EQ(observer_.frames[7].kind, kro::UnitKind::PictureSlice);
}

TEST_F(SinkTest, WithoutParameterSetsAKeyFrameCarriesOnlyItsOwnStartCode)
{
    StartSink("no-comma-here");
    const Bytes idr = Nal(0x65, 300);
    source_->Feed(idr, timeval{0, 0});
    ASSERT_EQ(observer_.frames.size(), 1u);
    EXPECT_EQ(observer_.frames[0].bytes, Cat({kStart, idr}));
    EXPECT_EQ(observer_.frames[0].kind, kro::UnitKind::KeyFrame);
}

TEST_F(SinkTest, UnitsArriveWholeUpToTheLimitAndACutOneIsLeftOut)
{
    StartSink(sprops_.c_str());
    const Bytes keyFrame = Nal(0x65, 130000); // a 1080p key frame of today's cameras
    const Bytes huge = Nal(0x41, RtspDeviceSink::kReceiveBufferSize + 500);
    source_->Feed(keyFrame, timeval{0, 0});
    source_->Feed(huge, timeval{0, 40000});
    source_->Feed(Nal(0x41, 10), timeval{0, 80000});
    ASSERT_EQ(observer_.frames.size(), 2u);
    EXPECT_EQ(observer_.frames[0].bytes, Cat({kStart, sps_, kStart, pps_, kStart, keyFrame}));
    EXPECT_EQ(observer_.frames[1].bytes.size(), 14u);
}

// An SPS announcing a picture of `widthInMbs` x `heightInMbs` macroblocks: of
// the Baseline profile, or with `scalingDeltas` of the High profile with
// these deltas as its first scaling list.
Bytes BaselineSps(uint32_t widthInMbs, uint32_t heightInMbs, const std::vector<int>& scalingDeltas = {})
{
    std::vector<bool> bits;
    const auto put = [&bits](uint32_t value, int count) {
        for (int i = count - 1; i >= 0; --i) {
            bits.push_back(((value >> i) & 1u) != 0);
        }
    };
    const auto ue = [&put](uint32_t value) {
        int length = 0;
        while (((value + 1) >> length) > 1) {
            ++length;
        }
        put(0, length);
        put(value + 1, length + 1);
    };
    put(scalingDeltas.empty() ? 66 : 100, 8); // profile
    put(0x1F, 16);                            // constraints, level
    ue(0);                                    // sps id
    if (!scalingDeltas.empty()) {
        ue(1); // chroma_format_idc
        ue(0); // bit depths
        ue(0);
        put(0, 1); // qpprime_y_zero_transform_bypass_flag
        put(1, 1); // seq_scaling_matrix_present_flag
        put(1, 1); // the first list is present
        for (const int delta : scalingDeltas) {
            ue(delta > 0 ? 2 * static_cast<uint32_t>(delta) - 1 : 2 * static_cast<uint32_t>(-delta));
        }
        put(0, 7); // the other lists are not
    }
    ue(0);     // log2_max_frame_num_minus4
    ue(2);     // pic_order_cnt_type
    ue(1);     // max_num_ref_frames
    put(0, 1); // gaps
    ue(widthInMbs - 1);
    ue(heightInMbs - 1);
    put(1, 1); // frame_mbs_only
    put(1, 2); // direct_8x8, no cropping
    put(1, 1); // stop bit
    Bytes sps = {0x67};
    for (size_t i = 0; i < bits.size(); i += 8) {
        uint8_t byte = 0;
        for (size_t j = 0; j < 8; ++j) {
            byte = static_cast<uint8_t>(byte << 1 | (i + j < bits.size() && bits[i + j] ? 1 : 0));
        }
        sps.push_back(byte);
    }
    return sps;
}

class RecordingErrorHandler final : public IErrorHandler {
public:
    void ErrorOccured(RtspDevice*, const std::string& text) override { errors.push_back(text); }
    std::string GetLastError() const override { return errors.empty() ? std::string() : errors.back(); }
    std::vector<std::string> errors;
};

TEST_F(SinkTest, APictureLargerThan8192SquareStopsTheStreamWithAReason)
{
    RecordingErrorHandler errors;
    device_.SetErrorHandler(&errors);
    StartSink(sprops_.c_str());
    source_->Feed(BaselineSps(512, 512), timeval{0, 0}); // 8192 x 8192: fine
    source_->Feed(Nal(0x41, 10), timeval{0, 0});
    EXPECT_TRUE(errors.errors.empty());
    EXPECT_EQ(observer_.frames.size(), 2u);
    EXPECT_FALSE(device_.EndIsFinal());

    source_->Feed(BaselineSps(1024, 68), timeval{0, 0}); // 16384 x 1088
    source_->Feed(Nal(0x65, 100), timeval{0, 0});
    EXPECT_EQ(errors.errors, (std::vector<std::string>{"The stream's picture size 16384x1088 exceeds the "
                                                       "largest supported size 8192x8192"}));
    EXPECT_EQ(observer_.frames.size(), 2u) << "nothing of such a stream is handed on";
    EXPECT_TRUE(device_.EndIsFinal()) << "a new connection would get the same pictures";

    // Announced in the SDP: reported as the sink starts.
    Medium::close(sink_);
    const Bytes sps = BaselineSps(45, 600);
    const std::string sprops = base64Encode(sps.data(), sps.size()) + "," + base64Encode(pps_.data(), 4);
    StartSink(sprops.c_str());
    ASSERT_EQ(errors.errors.size(), 2u);
    EXPECT_EQ(errors.errors[1],
              "The stream's picture size 720x9600 exceeds the largest supported size 8192x8192");
    device_.SetErrorHandler(nullptr);
}

TEST(H264SpsTest, ScalingDeltasOutsideTheirRangeAreRefusedWithoutOverflow)
{
    // A delta_scale of 2^31 - 1, which the sum with the last scale used to overflow.
    const Bytes overflowing = {0x67, 0x64, 0x00, 0x00, 0xad, 0x80, 0x00, 0x00, 0x00, 0xff, 0xff,
                               0xff, 0xfe, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff};
    H264PictureSize picture;
    EXPECT_FALSE(ParseSpsPictureSize(overflowing.data(), overflowing.size(), picture));
    const Bytes beyond = BaselineSps(45, 36, {-129, 0});
    EXPECT_FALSE(ParseSpsPictureSize(beyond.data(), beyond.size(), picture));

    // The extremes of the range are valid: the list ends where its scale wraps to 0.
    const Bytes extremes = BaselineSps(45, 36, {-128, 127, -7});
    ASSERT_TRUE(ParseSpsPictureSize(extremes.data(), extremes.size(), picture));
    EXPECT_EQ(picture.width, 720u);
    EXPECT_EQ(picture.height, 576u);
}

TEST_F(SinkTest, WithoutObserversUnitsAreStillReadAndTheDeviceLivesOn)
{
    device_.RemoveFrameObserver(&observer_);
    StartSink(sprops_.c_str());
    device_.UpdateLastUsedTime(1);
    source_->Feed(Nal(0x41, 100), timeval{0, 0});
    EXPECT_GE(device_.GetLastUsedTime(), MonotonicSeconds() - 5);
    EXPECT_TRUE(source_->isCurrentlyAwaitingData());
    EXPECT_TRUE(observer_.frames.empty());
}

TEST(DecodeSpropsTest, TwoSetsBecomeAnnexBAndAnythingWithoutACommaNothing)
{
    const Bytes decoded = RtspDeviceSink::DecodeSprops("Z01AHpY1QWQ=,aO48gA==");
    EXPECT_EQ(
        decoded,
        Cat({kStart, {0x67, 0x4D, 0x40, 0x1E, 0x96, 0x35, 0x41, 0x64}, kStart, {0x68, 0xEE, 0x3C, 0x80}}));
    EXPECT_TRUE(RtspDeviceSink::DecodeSprops(nullptr).empty());
    EXPECT_TRUE(RtspDeviceSink::DecodeSprops("").empty());
    EXPECT_TRUE(RtspDeviceSink::DecodeSprops("Z01AHpY1QWQ=").empty());
    // Every set after the PPS gets a start code of its own, also without padding.
    EXPECT_EQ(RtspDeviceSink::DecodeSprops("AQ==,Ag==,Aw=="),
              Cat({kStart, {0x01}, kStart, {0x02}, kStart, {0x03}}));
    EXPECT_EQ(RtspDeviceSink::DecodeSprops("AQ,Ag,,Aw"),
              Cat({kStart, {0x01}, kStart, {0x02}, kStart, {0x03}}));
    // "SPS," keeps the empty PPS with its start code.
    EXPECT_EQ(RtspDeviceSink::DecodeSprops("AQ==,"), Cat({kStart, {0x01}, kStart}));
}

TEST(RtspDeviceTest, ObserversAndDestructionWithoutRun)
{
    RecordingObserver a;
    RecordingObserver b;
    auto done = std::async(std::launch::async, [&] {
        RtspDevice device("rtsp://127.0.0.1:9/x", "u", "p", 0, nullptr, 0);
        device.AddFrameObserver(&a);
        device.AddFrameObserver(&a);
        device.AddFrameObserver(&b);
        EXPECT_EQ(device.GetFrameObservers(), (std::vector<IFrameObserver*>{&a, &b}));
        RecordingObserver absent;
        device.RemoveFrameObserver(&absent);
        device.RemoveFrameObserver(&a);
        EXPECT_EQ(device.GetFrameObservers(), (std::vector<IFrameObserver*>{&b}));

        device.SetStopFlag(); // Disconnect before Run: Run then returns at once
        device.Run();
    });
    // Destroying a device whose Run has returned (or never ran) does not block.
    EXPECT_EQ(done.wait_for(std::chrono::seconds(20)), std::future_status::ready);
}

} // namespace
