// RtspDevice's response handlers against a scripted server on loopback: the
// failures a real device seldom produces, each with its report or print-out.
#include "DeviceRunner.h"
#include "ScriptedServer.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

namespace {

using namespace std::chrono_literals;

std::string Ok(const std::string& request, const std::string& headers = std::string(),
               const std::string& body = "")
{
    std::string answer = "RTSP/1.0 200 OK\r\nCSeq: " + CSeqOf(request) + "\r\n" + headers;
    if (!body.empty()) {
        answer += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    }
    return answer + "\r\n" + body;
}

bool Is(const std::string& request, const char* method)
{
    return request.rfind(method, 0) == 0;
}

// Answers DESCRIBE with `sdp`, SETUP of the first subsession with `firstSetup`
// (or OK), every other SETUP with OK, PLAY with `play` (or OK), the rest with OK.
ScriptedServer::Script Device(const std::string& sdp, const std::string& firstSetup = "",
                              const std::string& play = "")
{
    return [=](const std::string& request, int) -> std::string {
        if (Is(request, "DESCRIBE")) {
            return Ok(request, "Content-Type: application/sdp\r\n", sdp);
        }
        if (Is(request, "SETUP")) {
            if (!firstSetup.empty() && request.find("client_port") != std::string::npos &&
                request.find("/track1 ") != std::string::npos) {
                return "RTSP/1.0 " + firstSetup + "\r\nCSeq: " + CSeqOf(request) + "\r\n\r\n";
            }
            return Ok(request,
                      "Session: 77;timeout=60\r\nTransport: RTP/AVP;unicast;server_port=7000-7001\r\n");
        }
        if (Is(request, "PLAY") && !play.empty()) {
            return "RTSP/1.0 " + play + "\r\nCSeq: " + CSeqOf(request) + "\r\n\r\n";
        }
        return Ok(request);
    };
}

const char kVideoAndMetadata[] = "v=0\r\ns=x\r\na=control:*\r\n"
                                 "m=video 0 RTP/AVP 96\r\na=rtpmap:96 H264/90000\r\na=control:track1\r\n"
                                 "m=application 0 RTP/AVP 107\r\na=rtpmap:107 vnd.onvif.metadata/90000\r\n"
                                 "a=control:track2\r\n";

// One RTP packet of payload type 96 to the video's client port that `setup`
// names, so that the client keeps the stream on UDP past its 3 s check.
void SendRtpToClient(const std::string& setup)
{
    const size_t at = setup.find("client_port=");
    if (at == std::string::npos) {
        return;
    }
    const int port = std::stoi(setup.substr(at + 12));
    const int udp = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const unsigned char packet[] = {0x80, 96, 0, 1, 0, 0, 0, 0, 0, 0, 0, 7, 0x09, 0x10};
    sendto(udp, packet, sizeof(packet), 0, reinterpret_cast<const sockaddr*>(&to), sizeof(to));
    close(udp);
}

// Polls: the server's requests are not something the runner is told about.
template <typename Predicate> bool PollFor(std::chrono::milliseconds timeout, Predicate predicate)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!predicate()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

std::vector<std::string> Methods(const ScriptedServer& server)
{
    std::vector<std::string> methods;
    for (const std::string& request : server.Requests()) {
        methods.push_back(request.substr(0, request.find(' ')));
    }
    return methods;
}

TEST(RtspDeviceHandlersTest, AnSdpWithoutMediaOrUnreadableIsReportedOnce)
{
    for (const auto& [sdp, expected] : std::vector<std::pair<std::string, std::string>>{
             {"v=0\r\ns=x\r\n", " This session has no media subsessions (i.e., no \"m=\" lines)\n"},
             {"garbage", " Failed to create a MediaSession object from the SDP description: "}}) {
        ScriptedServer server(Device(sdp));
        DeviceRunner runner(server.Url(), "root", "vbnq");
        runner.Start();
        ASSERT_TRUE(runner.WaitForEnd(10s));
        const auto errors = runner.Errors();
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_EQ(errors[0].rfind(server.Url() + expected, 0), 0u) << errors[0];
        EXPECT_EQ(errors[0].back(), '\n');
    }
}

TEST(RtspDeviceHandlersTest, AFailedSetupIsReportedAndTheNextSetupStillGoesOut)
{
    ScriptedServer server(Device(kVideoAndMetadata, "454 Session Not Found"));
    DeviceRunner runner(server.Url(), "root", "vbnq");
    runner.Start();
    ASSERT_TRUE(runner.WaitForEnd(10s));
    const auto errors = runner.Errors();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0],
              server.Url() + " Failed to set up the \"video/H264\" subsession: 454 Session Not Found");
    // The client may end before the server thread has read its last request.
    PollFor(5s, [&] { return server.Requests().size() >= 3; });
    const auto methods = Methods(server);
    ASSERT_GE(methods.size(), 3u);
    EXPECT_EQ(methods[1], "SETUP");
    EXPECT_EQ(methods[2], "SETUP");
}

TEST(RtspDeviceHandlersTest, AFailedPlayIsReportedAndTornDown)
{
    ScriptedServer server(Device(kVideoAndMetadata, "", "500 Internal Server Error"));
    std::string printed;
    {
        CerrCapture capture;
        DeviceRunner runner(server.Url(), "root", "vbnq");
        runner.Start();
        ASSERT_TRUE(runner.WaitForEnd(10s));
        EXPECT_EQ(runner.Errors(),
                  std::vector<std::string>{server.Url() +
                                           " Failed to start playing session: 500 Internal Server Error"});
        printed = capture.Text();
    }
    const std::string prefix = "[URL:\"" + server.Url() + "\"]: ";
    // The metadata subsession is set up but gets no sink.
    EXPECT_NE(
        printed.find(prefix + "Set up the \"application/VND.ONVIF.METADATA\" subsession (client ports "),
        std::string::npos)
        << printed;
    EXPECT_EQ(printed.find("Created a data sink for the \"application"), std::string::npos);
    PollFor(5s, [&] { return server.Requests().size() >= 5; });
    EXPECT_EQ(Methods(server), (std::vector<std::string>{"DESCRIBE", "SETUP", "SETUP", "PLAY", "TEARDOWN"}));
}

TEST(RtspDeviceHandlersTest, TheEndOfThePlayRangeEndsTheStreamWithAReport)
{
    const std::string sdp = std::string("v=0\r\na=range:npt=0-0.5\r\n") +
                            "m=video 0 RTP/AVP 96\r\na=rtpmap:96 H264/90000\r\na=control:track1\r\n";
    ScriptedServer server(Device(sdp));
    std::string printed;
    {
        CerrCapture capture;
        DeviceRunner runner(server.Url(), "root", "vbnq");
        runner.Start();
        // 0.5 s of play range plus 2 s of slop, then the stream counts as over.
        ASSERT_TRUE(runner.WaitForEnd(10s));
        EXPECT_EQ(runner.Errors(), std::vector<std::string>{
                                       server.Url() + " The stream reached the end of its announced range"});
        EXPECT_TRUE(runner.Device().EndIsFinal());
        printed = capture.Text();
    }
    EXPECT_NE(printed.find("Started playing session (for up to 2.5 seconds)...\n"), std::string::npos)
        << printed;
    PollFor(5s, [&] { return server.Requests().size() >= 4; });
    const auto methods = Methods(server);
    EXPECT_NE(std::find(methods.begin(), methods.end(), "TEARDOWN"), methods.end());
}

} // namespace

TEST(RtspDeviceHandlersTest, OnlyRefusedCredentialsOrAMissingStreamEndForGood)
{
    for (const auto& [status, final] :
         std::vector<std::pair<std::string, bool>>{{"401 Unauthorized", true},
                                                   {"403 Forbidden", true},
                                                   {"404 Not Found", true},
                                                   {"503 Service Unavailable", false},
                                                   {"", false}}) {
        SCOPED_TRACE(status);
        ScriptedServer server([status = status](const std::string& request, int) -> std::string {
            // No status: the connection closes without an answer.
            return status.empty() ? std::string()
                                  : "RTSP/1.0 " + status + "\r\nCSeq: " + CSeqOf(request) + "\r\n\r\n";
        });
        DeviceRunner runner(server.Url(), "root", "vbnq");
        runner.Start();
        ASSERT_TRUE(runner.WaitForEnd(10s));
        EXPECT_EQ(runner.Errors().size(), 1u);
        EXPECT_EQ(runner.Device().EndIsFinal(), final);
    }
}

TEST(RtspDeviceHandlersTest, AKeepAliveForAnUnknownSessionEndsTheStreamAndAnUnsupportedOneDoesNot)
{
    // Both at once: the first keep-alive of a stream goes out after 6 s.
    const auto keepAliveAnswering = [](const std::string& status) {
        const ScriptedServer::Script device = Device(kVideoAndMetadata);
        auto videoSetup = std::make_shared<std::string>();
        return [device, status, videoSetup](const std::string& request, int index) -> std::string {
            if (Is(request, "GET_PARAMETER")) {
                return "RTSP/1.0 " + status + "\r\nCSeq: " + CSeqOf(request) + "\r\n\r\n";
            }
            if (Is(request, "SETUP") && request.find("/track1 ") != std::string::npos) {
                // No server port: the packet below comes from any port.
                *videoSetup = request;
                return Ok(request, "Session: 77;timeout=60\r\nTransport: RTP/AVP;unicast\r\n");
            }
            if (Is(request, "PLAY")) {
                SendRtpToClient(*videoSetup);
            }
            return device(request, index);
        };
    };
    ScriptedServer restarted(keepAliveAnswering("454 Session Not Found"));
    ScriptedServer plain(keepAliveAnswering("405 Method Not Allowed"));
    DeviceRunner ended(restarted.Url(), "root", "vbnq");
    DeviceRunner goesOn(plain.Url(), "root", "vbnq");
    ended.Start();
    goesOn.Start();
    ASSERT_TRUE(ended.WaitForEnd(15s));
    EXPECT_EQ(ended.Errors(),
              std::vector<std::string>{restarted.Url() + " The keep-alive failed: 454 Session Not Found"});
    EXPECT_FALSE(ended.Device().EndIsFinal());
    ASSERT_TRUE(
        PollFor(5s, [&] { return !Methods(plain).empty() && Methods(plain).back() == "GET_PARAMETER"; }));
    EXPECT_FALSE(goesOn.WaitForEnd(500ms));
    EXPECT_TRUE(goesOn.Errors().empty());
}
