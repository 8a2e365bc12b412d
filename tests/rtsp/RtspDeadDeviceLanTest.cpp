// A device that stops sending video but keeps its RTSP session: the client
// notices the silence once, between 61 and 67 seconds after the last NAL unit.
// Takes about 70 seconds; registered as a "_long" test so the normal suite skips it.
#include "DeviceRunner.h"
#include "SimDevice.h"

#include <gtest/gtest.h>

#include <chrono>

namespace {

using namespace std::chrono_literals;

TEST(RtspDeadDeviceLanTest, ASilentDeviceIsReportedDeadOnceAfterAMinute)
{
    if (!SimDevice::Available()) {
        GTEST_SKIP() << "QEL_SIM / QEL_SOURCE_DIR not set: run through ctest inside the virtual LAN";
    }
    SimDevice sim(QString::fromStdString(LanDeviceNamespace()),
                  {QStringLiteral("--rtsp-stop-video-after"), QStringLiteral("3")}, QStringLiteral("rtsp"));
    ASSERT_TRUE(sim.IsReady()) << sim.Output().toStdString();
    DeviceRunner runner(LanDeviceUrl(), "root", "vbnq");
    runner.Start();
    ASSERT_TRUE(runner.WaitFor(20s, [&] { return !runner.FramesLocked().empty(); }));
    ASSERT_TRUE(runner.WaitFor(100s, [&] { return !runner.ErrorsLocked().empty(); }));
    ASSERT_TRUE(runner.WaitForEnd(10s));

    const auto errors = runner.Errors();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], "Device is dead");
    // The check counts whole seconds every 6 s: more than 60 s of silence, noticed
    // by the next check. A second of slack on each side for the clock's rounding.
    const auto silence = std::chrono::duration_cast<std::chrono::milliseconds>(
        runner.ErrorTimes().front() - runner.Frames().back().arrival);
    EXPECT_GE(silence.count(), 60000);
    EXPECT_LE(silence.count(), 68000);
    std::printf("silence before \"Device is dead\": %.1f s\n", silence.count() / 1000.0);
}

} // namespace
