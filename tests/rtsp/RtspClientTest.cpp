// The RTSP client over a real TCP connection on loopback, against a scripted
// server that produces what the simulator's server never does: split answers,
// stray answers, server requests, interleaved data, closed connections.
#include "Authenticator.h"
#include "MediaSession.h"
#include "RTSPClient.h"
#include "TaskScheduler.h"
#include "ScriptedServer.h"
#include "UsageEnvironment.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <memory>
#include <sstream>
#include <thread>

namespace {

struct Result {
    bool done = false;
    int code = 0;
    std::string text;
};

class TestClient final : public RTSPClient {
public:
    TestClient(UsageEnvironment& env, const std::string& url)
        : RTSPClient(env, url.c_str(), 0, nullptr, 0, -1)
    {
    }
    ~TestClient() override = default;
    Result result;
    std::vector<Result> all;
};

void Record(RTSPClient* client, int code, char* text)
{
    auto* self = static_cast<TestClient*>(client);
    self->result = Result{true, code, text != nullptr ? text : ""};
    self->all.push_back(self->result);
    delete[] text;
}

class RtspClientTest : public ::testing::Test {
protected:
    RtspClientTest() : env_(BasicUsageEnvironment::createNew(scheduler_, &output_)) {}

    void RunUntil(TestClient& client, size_t results)
    {
        for (int step = 0; step < 2000 && client.all.size() < results; ++step) {
            scheduler_.SingleStep(10000);
        }
    }

    // A DESCRIBE without credentials to `url`, run until it ends; exactly
    // one result is expected.
    Result DescribeOnce(const std::string& url)
    {
        TestClient client(*env_, url);
        client.sendDescribeCommand(Record, nullptr);
        RunUntil(client, 1);
        EXPECT_EQ(client.all.size(), 1u);
        return client.result;
    }

    BasicTaskScheduler scheduler_{0};
    std::ostringstream output_;
    std::unique_ptr<UsageEnvironment> env_;
};

const char kSdp[] = "v=0\r\ns=x\r\na=control:*\r\nm=video 0 RTP/AVP 96\r\na=rtpmap:96 H264/90000\r\n"
                    "a=control:track1\r\n";

TEST_F(RtspClientTest, DigestChallengeIsAnsweredAndTheCredentialsKeptForLaterRequests)
{
    std::string base;
    ScriptedServer server([&base](const std::string& request, int index) -> std::string {
        const std::string cseq = CSeqOf(request);
        if (index == 0) {
            return "RTSP/1.0 401 Unauthorized\r\nCSeq: " + cseq +
                   "\r\nWWW-Authenticate: Basic realm=\"r\"\r\nWWW-Authenticate: Digest realm=\"r\", "
                   "nonce=\"n1\"\r\n\r\n";
        }
        const std::string body = kSdp;
        return "RTSP/1.0 200 OK\r\nCSeq: " + cseq + "\r\nContent-Base: " + base +
               "\r\n"
               "Content-Length: " +
               std::to_string(body.size()) + "\r\n\r\n" + body;
    });
    base = server.Url("/base/");
    TestClient client(*env_, server.Url());
    Authenticator authenticator("root", "vbnq");
    client.sendDescribeCommand(Record, &authenticator);
    RunUntil(client, 1);
    ASSERT_TRUE(client.result.done);
    EXPECT_EQ(client.result.code, 0);
    EXPECT_EQ(client.result.text, kSdp);
    EXPECT_EQ(client.url(), base);

    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(HeaderOf(requests[0], "Authorization"), "");
    const std::string authorization = HeaderOf(requests[1], "Authorization");
    const std::string uri = server.Url();
    const std::string expected = Md5Hex(Md5Hex("root:r:vbnq") + ":n1:" + Md5Hex("DESCRIBE:" + uri));
    EXPECT_NE(authorization.find("Digest username=\"root\""), std::string::npos) << authorization;
    EXPECT_NE(authorization.find("response=\"" + expected + "\""), std::string::npos) << authorization;
    EXPECT_NE(CSeqOf(requests[0]), CSeqOf(requests[1]));
}

TEST_F(RtspClientTest, WrongCredentialsEndInOneFailureWithTheServersAnswer)
{
    ScriptedServer server([](const std::string& request, int) -> std::string {
        return "RTSP/1.0 401 Unauthorized\r\nCSeq: " + CSeqOf(request) +
               "\r\nWWW-Authenticate: Digest realm=\"r\", nonce=\"n\"\r\n\r\n";
    });
    TestClient client(*env_, server.Url());
    Authenticator authenticator("root", "wrong");
    client.sendDescribeCommand(Record, &authenticator);
    RunUntil(client, 1);
    for (int i = 0; i < 20; ++i) {
        scheduler_.SingleStep(5000); // room for a wrong second report
    }
    ASSERT_EQ(client.all.size(), 1u);
    EXPECT_EQ(client.result.code, 401);
    EXPECT_EQ(client.result.text, "401 Unauthorized");
    EXPECT_EQ(server.Requests().size(), 2u);
}

TEST_F(RtspClientTest, StrayAnswersLineEndsServerRequestsAndInterleavedDataAreSkipped)
{
    ScriptedServer server([](const std::string& request, int) -> std::string {
        const std::string interleaved("$\x01\x00\x03"
                                      "abc",
                                      7);                     // binary data on channel 1
        return "\r\nRTSP/1.0 200 OK\r\nCSeq: 999\r\n\r\n\r\n" // line ends around an answer to nothing we
                                                              // asked
               "OPTIONS * RTSP/1.0\r\nCSeq: 5\r\n\r\n" +      // the server asks something
               interleaved +
               "RTSP/1.0 200 OK\r\nCSeq: " + CSeqOf(request) + "\r\nContent-Length: 2\r\n\r\nok";
    });
    const Result result = DescribeOnce(server.Url());
    EXPECT_EQ(result.code, 0);
    EXPECT_EQ(result.text, "ok");
}

TEST_F(RtspClientTest, SetupAndPlayUseTheControlUrlsAndTheSession)
{
    ScriptedServer server([](const std::string& request, int) -> std::string {
        const std::string cseq = CSeqOf(request);
        if (request.rfind("SETUP", 0) == 0) {
            return "RTSP/1.0 200 OK\r\nCSeq: " + cseq +
                   "\r\nSession: ABC123;timeout=60\r\nTransport: "
                   "RTP/AVP;unicast;client_port=1-2;server_port=7000-7001\r\n\r\n";
        }
        return "RTSP/1.0 200 OK\r\nCSeq: " + cseq + "\r\n\r\n";
    });
    TestClient client(*env_, server.Url("/live"));
    MediaSession* session = MediaSession::createNew(*env_, kSdp);
    ASSERT_NE(session, nullptr);
    MediaSubsessionIterator iter(*session);
    MediaSubsession* video = iter.next();
    ASSERT_TRUE(video->initiate());
    EXPECT_EQ(video->clientPortNum() % 2, 0);
    client.sendSetupCommand(*video, Record);
    RunUntil(client, 1);
    client.sendPlayCommand(*session, Record);
    client.sendGetParameterCommand(*session, Record, nullptr);
    RunUntil(client, 3);
    ASSERT_EQ(client.all.size(), 3u);
    for (const Result& result : client.all) {
        EXPECT_EQ(result.code, 0);
    }
    EXPECT_EQ(video->sessionId(), "ABC123");
    EXPECT_EQ(video->serverRtpPort(), 7000);
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 3u);
    const std::string base = server.Url("/live");
    EXPECT_EQ(requests[0].substr(0, requests[0].find("\r\n")), "SETUP " + base + "/track1 RTSP/1.0");
    const std::string port = std::to_string(video->clientPortNum());
    EXPECT_EQ(HeaderOf(requests[0], "Transport"),
              "RTP/AVP;unicast;client_port=" + port + "-" + std::to_string(video->clientPortNum() + 1));
    EXPECT_EQ(requests[1].substr(0, requests[1].find("\r\n")), "PLAY " + base + " RTSP/1.0");
    EXPECT_EQ(HeaderOf(requests[1], "Session"), "ABC123");
    EXPECT_EQ(HeaderOf(requests[1], "Range"), "npt=0.000-");
    EXPECT_EQ(requests[2].substr(0, requests[2].find(' ')), "GET_PARAMETER");
    EXPECT_EQ(HeaderOf(requests[2], "Content-Length"), ""); // a keep-alive has no body
    Medium::close(session);
}

TEST_F(RtspClientTest, AClosedOrRefusedConnectionFailsThePendingRequests)
{
    {
        ScriptedServer server([](const std::string&, int) { return std::string(); });
        const Result result = DescribeOnce(server.Url());
        EXPECT_LT(result.code, 0);
        EXPECT_EQ(result.text, "Connection closed by the server");
    }
    // A port that was just free: nothing listens there.
    unsigned short port = 0;
    close(BoundSocket(SOCK_STREAM, INADDR_LOOPBACK, port));
    const Result refused = DescribeOnce("rtsp://127.0.0.1:" + std::to_string(port) + "/x");
    EXPECT_LT(refused.code, 0);
    EXPECT_EQ(refused.text, "Connection to server failed: Connection refused");

    TestClient badUrl(*env_, "http://127.0.0.1/x");
    badUrl.sendDescribeCommand(Record, nullptr);
    ASSERT_EQ(badUrl.all.size(), 1u);
    EXPECT_EQ(badUrl.result.text, "Failed to parse URL \"http://127.0.0.1/x\"");

    // A host name would need a lookup, which blocks the loop and every stop.
    TestClient named(*env_, "rtsp://localhost:554/x");
    named.sendDescribeCommand(Record, nullptr);
    ASSERT_EQ(named.all.size(), 1u);
    EXPECT_EQ(named.result.text, "Not a numeric IPv4 address: \"localhost\"");
}

} // namespace
