// RtspDevice against the simulator's RTSP server inside the virtual LAN.
#include "DeviceRunner.h"
#include "RtspDeviceSink.h"
#include "SimDevice.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>

namespace {

using namespace std::chrono_literals;

constexpr auto kSetupTimeout = 20s;
constexpr auto kEndTimeout = 10s;

class RtspDeviceLanTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!SimDevice::Available()) {
            GTEST_SKIP() << "QEL_SIM / QEL_SOURCE_DIR not set: run through ctest inside the virtual LAN";
        }
    }

    std::unique_ptr<SimDevice> StartSim(const QStringList& arguments)
    {
        auto sim = std::make_unique<SimDevice>(QString::fromStdString(LanDeviceNamespace()), arguments,
                                               QStringLiteral("rtsp"));
        EXPECT_TRUE(sim->IsReady()) << sim->Output().toStdString();
        return sim;
    }
};

size_t Find(const std::string& text, const std::string& what)
{
    return text.find(what);
}

TEST_F(RtspDeviceLanTest, FramesArriveAndKeyFramesCarryTheSdpParameterSets)
{
    auto sim = StartSim({});
    ASSERT_TRUE(sim->IsReady());
    const std::string url = LanDeviceUrl();
    std::string printed;
    {
        CerrCapture capture;
        DeviceRunner runner(url, "root", "vbnq");
        runner.Start();
        const bool enough = runner.WaitFor(kSetupTimeout, [&] {
            size_t keys = 0;
            for (const auto& frame : runner.FramesLocked()) {
                keys += frame.key ? 1 : 0;
            }
            return runner.FramesLocked().size() >= 60 && keys >= 2;
        });
        runner.Device().SetStopFlag();
        EXPECT_TRUE(runner.WaitForEnd(kEndTimeout)) << "Run did not return after SetStopFlag";
        printed = capture.Text();
        ASSERT_TRUE(enough) << "frames received: " << runner.Frames().size();
        EXPECT_TRUE(runner.Errors().empty()) << runner.Errors().front();

        // The parameter sets as the SDP announced them, from the printed description.
        const std::string key = "sprop-parameter-sets=";
        const size_t at = printed.find(key);
        ASSERT_NE(at, std::string::npos) << printed;
        const size_t from = at + key.size();
        const std::string sprops = printed.substr(from, printed.find_first_of(";\r\n", from) - from);
        const std::vector<unsigned char> parameterSets = RtspDeviceSink::DecodeSprops(sprops.c_str());
        ASSERT_GT(parameterSets.size(), 8u);
        const auto frames = runner.Frames();
        int64_t previous = 0;
        for (const auto& frame : frames) {
            EXPECT_GE(frame.timestamp, previous) << "presentation times go back";
            previous = frame.timestamp;
            if (!frame.key) {
                continue;
            }
            ASSERT_GT(frame.bytes.size(), parameterSets.size() + 5);
            EXPECT_EQ(0, std::memcmp(frame.bytes.data(), parameterSets.data(), parameterSets.size()));
            const unsigned char* slice = frame.bytes.data() + parameterSets.size();
            EXPECT_EQ(slice[0], 0);
            EXPECT_EQ(slice[3], 1);
            EXPECT_EQ(slice[4] & 0x1F, 5);
        }
    }
    const std::string prefix = "[URL:\"" + url + "\"]: ";
    EXPECT_NE(Find(printed, prefix + "Got a SDP description:\n"), std::string::npos) << printed;
    EXPECT_NE(Find(printed, prefix + "Initiated the \"video/H264\" subsession (client ports "),
              std::string::npos);
    EXPECT_NE(Find(printed, prefix + "Set up the \"video/H264\" subsession (client ports "),
              std::string::npos);
    EXPECT_NE(Find(printed, prefix + "Created a data sink for the \"video/H264\" subsession\n"),
              std::string::npos);
    // A live session has no play range: no "(for up to ...)".
    EXPECT_NE(Find(printed, prefix + "Started playing session...\n"), std::string::npos);
}

TEST_F(RtspDeviceLanTest, WrongPasswordGivesExactlyOneReportWithTheServersAnswer)
{
    auto sim = StartSim({});
    ASSERT_TRUE(sim->IsReady());
    const std::string url = LanDeviceUrl();
    DeviceRunner runner(url, "root", "not-the-password");
    runner.Start();
    ASSERT_TRUE(runner.WaitForEnd(kSetupTimeout)) << "the error handler's stop did not end Run";
    const auto errors = runner.Errors();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], url + " Failed to get a SDP description: 401 Unauthorized");
    EXPECT_TRUE(runner.Frames().empty());
}

TEST_F(RtspDeviceLanTest, VideoAndAudioAreBothSetUpAndOnlyVideoIsRead)
{
    auto sim = StartSim({QStringLiteral("--rtsp-audio")});
    ASSERT_TRUE(sim->IsReady());
    const std::string url = LanDeviceUrl();
    std::string printed;
    {
        CerrCapture capture;
        DeviceRunner runner(url, "root", "vbnq");
        runner.Start();
        EXPECT_TRUE(runner.WaitFor(kSetupTimeout, [&] { return runner.FramesLocked().size() >= 10; }));
        runner.Device().SetStopFlag();
        EXPECT_TRUE(runner.WaitForEnd(kEndTimeout));
        EXPECT_TRUE(runner.Errors().empty());
        printed = capture.Text();
    }
    const size_t videoSetUp = Find(printed, "Set up the \"video/H264\" subsession");
    const size_t audioSetUp = Find(printed, "Set up the \"audio/PCMA\" subsession");
    const size_t playing = Find(printed, "Started playing session");
    ASSERT_NE(videoSetUp, std::string::npos) << printed;
    ASSERT_NE(audioSetUp, std::string::npos) << printed;
    ASSERT_NE(playing, std::string::npos) << printed;
    EXPECT_LT(std::max(videoSetUp, audioSetUp), playing) << "PLAY must follow the second SETUP";
    EXPECT_NE(Find(printed, "Created a data sink for the \"video/H264\""), std::string::npos);
    EXPECT_EQ(Find(printed, "Created a data sink for the \"audio"), std::string::npos);
}

TEST_F(RtspDeviceLanTest, DisconnectWhileDescribeHangsEndsRunWithoutAReport)
{
    auto sim = StartSim({QStringLiteral("--rtsp-never-answer-describe")});
    ASSERT_TRUE(sim->IsReady());
    DeviceRunner runner(LanDeviceUrl(), "root", "vbnq");
    runner.Start();
    EXPECT_FALSE(runner.WaitForEnd(1500ms)) << "Run ended without an answer or a stop";
    runner.Device().SetStopFlag();
    EXPECT_TRUE(runner.WaitForEnd(kEndTimeout));
    EXPECT_TRUE(runner.Errors().empty());
}

TEST_F(RtspDeviceLanTest, NoServerAtTheAddressGivesOneReport)
{
    auto sim = StartSim({QStringLiteral("--rtsp-off")});
    ASSERT_TRUE(sim->IsReady());
    const std::string url = LanDeviceUrl();
    DeviceRunner runner(url, "root", "vbnq");
    runner.Start();
    ASSERT_TRUE(runner.WaitForEnd(kSetupTimeout));
    const auto errors = runner.Errors();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].rfind(url + " Failed to get a SDP description: Connection to server failed: ", 0), 0u)
        << errors[0];
}

} // namespace
