// RtspDevice against the simulator's RTSP server inside the virtual LAN.
#include "DeviceRunner.h"
#include "RtspDeviceSink.h"
#include "SimDevice.h"

#include <gtest/gtest.h>

#include <QRegularExpression>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <functional>

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

    // What the client prints to standard error during `session`, which gets
    // a started run of the device's stream with the right credentials.
    static std::string PrintedDuring(const std::function<void(DeviceRunner&, const CerrCapture&)>& session)
    {
        CerrCapture capture;
        DeviceRunner runner(LanDeviceUrl(), "root", "vbnq");
        runner.Start();
        session(runner, capture);
        return capture.Text();
    }
};

size_t Find(const std::string& text, const std::string& what)
{
    return text.find(what);
}

int Count(const QString& text, const QString& what)
{
    return text.count(what);
}

// Reads the simulator's output until it says `what` `times` times, for at most `timeoutMs`.
int WaitForCount(SimDevice& sim, const QString& what, int times, int timeoutMs)
{
    for (int waited = 0; waited < timeoutMs && Count(sim.Output(), what) < times; waited += 100) {
        sim.WaitForOutput(QStringLiteral("(a line the simulator never writes)"), 100);
    }
    return Count(sim.Output(), what);
}

// The URLs of the requests the simulator answered, in order.
std::vector<std::string> RequestUrls(const SimDevice& sim)
{
    std::vector<std::string> urls;
    const QRegularExpression line(QStringLiteral("qel-device-sim: rtsp request \\S+ (\\S*)"));
    auto matches = line.globalMatch(sim.Output());
    while (matches.hasNext()) {
        urls.push_back(matches.next().captured(1).toStdString());
    }
    return urls;
}

// Another host's RTSP server as far as a client can tell: a TCP port on the
// workstation that takes connections and is never served.
class ForeignListener final {
public:
    ForeignListener()
    {
        socket_ = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        bind(socket_, reinterpret_cast<const sockaddr*>(&address), sizeof(address));
        listen(socket_, 8);
        socklen_t length = sizeof(address);
        getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
    }
    ~ForeignListener() { close(socket_); }
    ForeignListener(const ForeignListener&) = delete;
    ForeignListener& operator=(const ForeignListener&) = delete;

    unsigned short Port() const { return port_; }
    // The first request line a client sent, and whether it carried
    // credentials; empty when none connected.
    std::string FirstVisit() const
    {
        const int client = accept(socket_, nullptr, nullptr);
        if (client < 0) {
            return std::string();
        }
        char buffer[4096];
        const ssize_t got = recv(client, buffer, sizeof(buffer), MSG_DONTWAIT);
        close(client);
        const std::string sent(buffer, got > 0 ? static_cast<size_t>(got) : 0);
        return "connected, sent \"" + sent.substr(0, sent.find('\r')) + "\"" +
               (sent.find("\r\nAuthorization: ") != std::string::npos ? " with credentials" : "");
    }

private:
    int socket_ = -1;
    unsigned short port_ = 0;
};

TEST_F(RtspDeviceLanTest, FramesArriveAndKeyFramesCarryTheSdpParameterSets)
{
    auto sim = StartSim({});
    ASSERT_TRUE(sim->IsReady());
    const std::string printed = PrintedDuring([](DeviceRunner& runner, const CerrCapture& capture) {
        const bool enough = runner.WaitFor(kSetupTimeout, [&] {
            size_t keys = 0;
            for (const auto& frame : runner.FramesLocked()) {
                keys += frame.key ? 1 : 0;
            }
            // Well past the time after PLAY by which UDP must have arrived.
            const auto& frames = runner.FramesLocked();
            return frames.size() >= 60 && keys >= 2 && frames.back().arrival - frames.front().arrival >= 4s;
        });
        EXPECT_EQ(runner.Device().TransportName(), "UDP");
        runner.Device().SetStopFlag();
        EXPECT_TRUE(runner.WaitForEnd(kEndTimeout)) << "Run did not return after SetStopFlag";
        const std::string printedSoFar = capture.Text();
        ASSERT_TRUE(enough) << "frames received: " << runner.Frames().size();
        EXPECT_TRUE(runner.Errors().empty()) << runner.Errors().front();

        // The parameter sets as the SDP announced them, from the printed description.
        const std::string key = "sprop-parameter-sets=";
        const size_t at = printedSoFar.find(key);
        ASSERT_NE(at, std::string::npos) << printedSoFar;
        const size_t from = at + key.size();
        const std::string sprops =
            printedSoFar.substr(from, printedSoFar.find_first_of(";\r\n", from) - from);
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
    });
    const std::string prefix = "[URL:\"" + LanDeviceUrl() + "\"]: ";
    EXPECT_NE(Find(printed, prefix + "Got a SDP description:\n"), std::string::npos) << printed;
    EXPECT_NE(Find(printed, prefix + "Initiated the \"video/H264\" subsession (client ports "),
              std::string::npos);
    EXPECT_NE(Find(printed, prefix + "Set up the \"video/H264\" subsession (client ports "),
              std::string::npos);
    EXPECT_NE(Find(printed, prefix + "Created a data sink for the \"video/H264\" subsession\n"),
              std::string::npos);
    // A live session has no play range: no "(for up to ...)".
    EXPECT_NE(Find(printed, prefix + "Started playing session...\n"), std::string::npos);
    EXPECT_EQ(WaitForCount(*sim, QStringLiteral("rtsp transport RTP/AVP;unicast;client_port="), 1, 1000), 1)
        << sim->Output().toStdString();
    EXPECT_EQ(Count(sim->Output(), QStringLiteral("RTP/AVP/TCP")), 0);
}

TEST_F(RtspDeviceLanTest, VideoComesOverTheRtspConnectionWhenUdpIsDroppedOrRefused)
{
    // Dropped: the device accepts UDP but nothing arrives, so the client waits
    // its 3 s after PLAY. Refused: 461 to the UDP SETUP, so it asks at once.
    for (const QString& udpFault : {QStringLiteral("--rtsp-drop-udp"), QStringLiteral("--rtsp-refuse-udp")}) {
        SCOPED_TRACE(udpFault.toStdString());
        const bool dropped = udpFault == QStringLiteral("--rtsp-drop-udp");
        auto sim = StartSim({udpFault});
        ASSERT_TRUE(sim->IsReady());
        DeviceRunner runner(LanDeviceUrl(), "root", "vbnq");
        const auto start = std::chrono::steady_clock::now();
        runner.Start();
        const bool keyFrame = runner.WaitFor(5s, [&] {
            const auto& frames = runner.FramesLocked();
            return std::any_of(frames.begin(), frames.end(), [](const auto& frame) { return frame.key; });
        });
        std::printf(
            "%s: first key frame %.0f ms after the start\n", udpFault.toUtf8().constData(),
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
        EXPECT_TRUE(keyFrame) << "no picture within 5 s; errors: " << runner.Errors().size();
        EXPECT_EQ(runner.Device().TransportName(), "TCP");
        EXPECT_TRUE(
            sim->WaitForOutput(QStringLiteral("rtsp transport RTP/AVP/TCP;unicast;interleaved=0-1"), 1000))
            << sim->Output().toStdString();
        if (dropped) {
            // Keep-alives go on, their answers mixed with the video, which goes on too.
            ASSERT_TRUE(sim->WaitForOutput(QStringLiteral("rtsp request GET_PARAMETER"), 10000))
                << sim->Output().toStdString();
            const size_t framesAtKeepAlive = runner.Frames().size();
            EXPECT_TRUE(runner.WaitFor(
                kSetupTimeout, [&] { return runner.FramesLocked().size() >= framesAtKeepAlive + 25; }));
        }
        runner.Device().SetStopFlag();
        EXPECT_TRUE(runner.WaitForEnd(kEndTimeout));
        EXPECT_TRUE(runner.Errors().empty()) << runner.Errors().front();
        // The UDP session that never showed anything is ended too.
        const int teardowns = dropped ? 2 : 1;
        EXPECT_EQ(WaitForCount(*sim, QStringLiteral("rtsp TEARDOWN received"), teardowns, 5000), teardowns)
            << sim->Output().toStdString();
    }
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
    const std::string printed = PrintedDuring([](DeviceRunner& runner, const CerrCapture&) {
        EXPECT_TRUE(runner.WaitFor(kSetupTimeout, [&] { return runner.FramesLocked().size() >= 10; }));
        runner.Device().SetStopFlag();
        EXPECT_TRUE(runner.WaitForEnd(kEndTimeout));
        EXPECT_TRUE(runner.Errors().empty());
    });
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

TEST_F(RtspDeviceLanTest, RequestsReconnectsAndCredentialsGoOnlyToTheDevice)
{
    // The DESCRIBE answer names the workstation as Content-Base, and the device
    // closes the connection after PLAY, so that the next keep-alive connects anew.
    ForeignListener other;
    const std::string foreignBase = "rtsp://" + LanWorkstationAddress() + ":" + std::to_string(other.Port()) +
                                    "/ch0_unicast_firststream/";
    auto sim = StartSim({QStringLiteral("--rtsp-content-base"), QString::fromStdString(foreignBase),
                         QStringLiteral("--rtsp-close-after-play")});
    ASSERT_TRUE(sim->IsReady());
    const std::string url = LanDeviceUrl();
    DeviceRunner runner(url, "root", "vbnq");
    runner.Start();
    EXPECT_TRUE(runner.WaitFor(kSetupTimeout, [&] { return !runner.FramesLocked().empty(); }));
    // The keep-alive comes within 6 s of the start.
    EXPECT_TRUE(sim->WaitForOutput(QStringLiteral("rtsp request GET_PARAMETER"), 15000))
        << sim->Output().toStdString();
    runner.Device().SetStopFlag();
    EXPECT_TRUE(runner.WaitForEnd(kEndTimeout));
    EXPECT_TRUE(sim->WaitForOutput(QStringLiteral("rtsp request TEARDOWN"), 5000));

    EXPECT_EQ(other.FirstVisit(), "");
    const auto urls = RequestUrls(*sim);
    ASSERT_GE(urls.size(), 6u) << sim->Output().toStdString(); // DESCRIBE twice (401), SETUP, PLAY, ...
    for (const std::string& requested : urls) {
        EXPECT_EQ(requested.rfind(url, 0), 0u) << requested;
    }
    EXPECT_TRUE(runner.Errors().empty()) << runner.Errors().front();
}

TEST_F(RtspDeviceLanTest, StopSendsTeardownAndDoesNotWaitForItsAnswer)
{
    // The answer comes 300 ms late: a client that waited for it would read it.
    auto sim = StartSim({QStringLiteral("--rtsp-hold-teardown-answer"), QStringLiteral("300")});
    ASSERT_TRUE(sim->IsReady());
    const std::string printed = PrintedDuring([](DeviceRunner& runner, const CerrCapture&) {
        ASSERT_TRUE(runner.WaitFor(kSetupTimeout, [&] { return runner.FramesLocked().size() >= 10; }));
        const auto stopAt = std::chrono::steady_clock::now();
        runner.Device().SetStopFlag();
        EXPECT_TRUE(runner.WaitForEnd(kEndTimeout));
        std::printf(
            "stop with the TEARDOWN answer held back: %.1f ms\n",
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - stopAt).count());
        EXPECT_TRUE(runner.Errors().empty());
    });
    EXPECT_TRUE(sim->WaitForOutput(QStringLiteral("rtsp TEARDOWN held back"), 5000))
        << sim->Output().toStdString();
    const size_t sent = Find(printed, "Sending request: TEARDOWN ");
    ASSERT_NE(sent, std::string::npos) << printed;
    EXPECT_EQ(Find(printed.substr(sent), "Received a complete response"), std::string::npos)
        << printed.substr(sent);
}

TEST_F(RtspDeviceLanTest, StreamEndsTheDeviceAnnouncesAreReportedAtOnce)
{
    const std::string url = LanDeviceUrl();
    const std::vector<std::pair<QStringList, std::string>> ends{
        {{QStringLiteral("--rtsp-fail-play")},
         url + " Failed to start playing session: 503 Service Unavailable"},
        {{QStringLiteral("--rtsp-end-stream-after"), QStringLiteral("2")},
         url + " The device ended the stream (RTCP BYE on the \"video/H264\" subsession)"},
        {{QStringLiteral("--rtsp-announce-range"), QStringLiteral("1")},
         url + " The stream reached the end of its announced range"},
        // Over the RTSP connection: a BYE on it, or the connection closed.
        {{QStringLiteral("--rtsp-refuse-udp"), QStringLiteral("--rtsp-end-stream-after"),
          QStringLiteral("2")},
         url + " The device ended the stream (RTCP BYE on the \"video/H264\" subsession)"},
        {{QStringLiteral("--rtsp-refuse-udp"), QStringLiteral("--rtsp-close-after-play")},
         url + " The connection that carried the video was lost: Connection closed by the server"},
    };
    for (const auto& [arguments, expected] : ends) {
        SCOPED_TRACE(arguments.join(QLatin1Char(' ')).toStdString());
        auto sim = StartSim(arguments);
        ASSERT_TRUE(sim->IsReady());
        DeviceRunner runner(url, "root", "vbnq");
        runner.Start();
        // Far less than the minute after which a silent device counts as dead.
        ASSERT_TRUE(runner.WaitForEnd(kSetupTimeout)) << "the end was not reported";
        EXPECT_EQ(runner.Errors(), std::vector<std::string>{expected});
    }
}

} // namespace
