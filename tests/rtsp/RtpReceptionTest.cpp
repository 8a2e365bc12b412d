// RTP and RTCP reception over real UDP sockets on loopback: a subsession's
// source hands NAL units to a sink, an RTCP BYE from the sender reaches the
// BYE handler once, and once the server is known only its packets count. The
// same interleaved on a real RTSP connection, with RTCP both ways.
#include "MediaSession.h"
#include "MediaSink.h"
#include "RtcpInstance.h"
#include "RtpSource.h"
#include "RTSPClient.h"
#include "RtspResponse.h"
#include "ScriptedServer.h"
#include "TaskScheduler.h"
#include "UsageEnvironment.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <sstream>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

class CollectingSink final : public MediaSink {
public:
    static CollectingSink* createNew(UsageEnvironment& env) { return new CollectingSink(env); }
    std::vector<Bytes> units;
    std::vector<timeval> times;

private:
    explicit CollectingSink(UsageEnvironment& env) : MediaSink(env) {}
    bool continuePlaying() override
    {
        if (fSource == nullptr) {
            return false;
        }
        fSource->getNextFrame(buffer_, sizeof(buffer_), AfterGetting, this, onSourceClosure, this);
        return true;
    }
    static void AfterGetting(void* clientData, unsigned size, unsigned, timeval time, unsigned)
    {
        auto* self = static_cast<CollectingSink*>(clientData);
        self->units.emplace_back(self->buffer_, self->buffer_ + size);
        self->times.push_back(time);
        self->continuePlaying();
    }
    unsigned char buffer_[200000];
};

Bytes Rtp(uint16_t seq, uint32_t timestamp, const Bytes& payload, uint32_t ssrc)
{
    Bytes packet(12 + payload.size());
    packet[0] = 0x80;
    packet[1] = 96;
    packet[2] = static_cast<uint8_t>(seq >> 8);
    packet[3] = static_cast<uint8_t>(seq);
    for (int i = 0; i < 4; ++i) {
        packet[4 + i] = static_cast<uint8_t>(timestamp >> (24 - 8 * i));
        packet[8 + i] = static_cast<uint8_t>(ssrc >> (24 - 8 * i));
    }
    std::copy(payload.begin(), payload.end(), packet.begin() + 12);
    return packet;
}

Bytes Bye(uint32_t ssrc)
{
    return {0x81,
            203,
            0,
            1,
            static_cast<uint8_t>(ssrc >> 24),
            static_cast<uint8_t>(ssrc >> 16),
            static_cast<uint8_t>(ssrc >> 8),
            static_cast<uint8_t>(ssrc)};
}

class RtpReceptionTest : public ::testing::Test {
protected:
    RtpReceptionTest() : env_(BasicUsageEnvironment::createNew(scheduler_, &output_))
    {
        sender_ = socket(AF_INET, SOCK_DGRAM, 0);
    }
    ~RtpReceptionTest() override { close(sender_); }

    void SendTo(unsigned short port, const Bytes& datagram) { SendFrom(sender_, port, datagram); }

    static void SendFrom(int fd, unsigned short port, const Bytes& datagram)
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(port);
        sendto(fd, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&address),
               sizeof(address));
    }

    void Step(int count)
    {
        for (int i = 0; i < count; ++i) {
            scheduler_.SingleStep(2000);
        }
    }

    BasicTaskScheduler scheduler_{0};
    std::ostringstream output_;
    std::unique_ptr<UsageEnvironment> env_;
    int sender_ = -1;
};

TEST_F(RtpReceptionTest, UnitsFlowToTheSinkAndAByeFromTheSenderIsHandledOnce)
{
    MediaSession* session = MediaSession::createNew(
        *env_, "v=0\r\nm=video 0 RTP/AVP 96\r\na=rtpmap:96 H264/90000\r\nm=audio 0 RTP/AVP 8\r\n");
    ASSERT_NE(session, nullptr);
    MediaSubsessionIterator iter(*session);
    MediaSubsession* video = iter.next();
    MediaSubsession* audio = iter.next();
    ASSERT_TRUE(video->initiate());
    ASSERT_TRUE(audio->initiate());
    EXPECT_NE(video->clientPortNum(), audio->clientPortNum());

    CollectingSink* sink = CollectingSink::createNew(*env_);
    ASSERT_TRUE(sink->startPlaying(*video->readSource(), nullptr, nullptr));
    int byes = 0;
    video->rtcpInstance()->setByeHandler([](void* data) { ++*static_cast<int*>(data); }, &byes, true);

    const uint32_t ssrc = 0x5EED;
    SendTo(video->clientPortNum(), Rtp(1, 90000, {0x41, 1, 2, 3}, ssrc));
    SendTo(video->clientPortNum(), Rtp(2, 93600, {0x7C, 0x85, 9, 9, 9}, ssrc)); // FU-A start of an IDR slice
    SendTo(video->clientPortNum(), Rtp(3, 93600, {0x7C, 0x45, 8, 8}, ssrc));    // and its end
    SendTo(audio->clientPortNum(), Rtp(1, 0, {1, 2, 3}, ssrc));                 // nobody reads audio
    Step(20);
    ASSERT_EQ(sink->units.size(), 2u);
    EXPECT_EQ(sink->units[0], (Bytes{0x41, 1, 2, 3}));
    EXPECT_EQ(sink->units[1], (Bytes{0x65, 9, 9, 9, 8, 8}));
    // 3600 ticks of the 90 kHz clock are 40 ms.
    const int64_t deltaUs = (sink->times[1].tv_sec - sink->times[0].tv_sec) * 1000000LL +
                            (sink->times[1].tv_usec - sink->times[0].tv_usec);
    EXPECT_EQ(deltaUs, 40000);

    const unsigned short rtcpPort = static_cast<unsigned short>(video->clientPortNum() + 1);
    SendTo(rtcpPort, Bye(0xBAD)); // not the sender we heard from
    Step(5);
    EXPECT_EQ(byes, 0);
    SendTo(rtcpPort, Bye(ssrc));
    SendTo(rtcpPort, Bye(ssrc));
    Step(10);
    EXPECT_EQ(byes, 1);

    Medium::close(sink);
    Medium::close(session);
}

TEST_F(RtpReceptionTest, OnceTheServerIsKnownOnlyItsPacketsCount)
{
    MediaSession* session =
        MediaSession::createNew(*env_, "v=0\r\nm=video 0 RTP/AVP 96\r\na=rtpmap:96 H264/90000\r\n");
    ASSERT_NE(session, nullptr);
    MediaSubsession* video = MediaSubsessionIterator(*session).next();
    ASSERT_TRUE(video->initiate());
    CollectingSink* sink = CollectingSink::createNew(*env_);
    ASSERT_TRUE(sink->startPlaying(*video->readSource(), nullptr, nullptr));
    int byes = 0;
    video->rtcpInstance()->setByeHandler([](void* data) { ++*static_cast<int*>(data); }, &byes, false);

    TransportInfo transport;
    unsigned short rtpPort = 0;
    unsigned short rtcpPort = 0;
    unsigned short otherPort = 0;
    unsigned short foreignPort = 0;
    const int serverRtp = BoundSocket(SOCK_DGRAM, INADDR_LOOPBACK, rtpPort);
    const int serverRtcp = BoundSocket(SOCK_DGRAM, INADDR_LOOPBACK, rtcpPort);
    const int otherServerPort = BoundSocket(SOCK_DGRAM, INADDR_LOOPBACK, otherPort);
    const int foreignHost = BoundSocket(SOCK_DGRAM, INADDR_LOOPBACK + 1, foreignPort); // 127.0.0.2
    transport.serverRtpPort = rtpPort;
    transport.serverRtcpPort = rtcpPort;
    sockaddr_in server{};
    server.sin_family = AF_INET;
    server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    video->SetServerTransport(server, transport);

    const uint32_t ssrc = 0x5EED;
    const auto clientRtcp = static_cast<unsigned short>(video->clientPortNum() + 1);
    SendFrom(foreignHost, video->clientPortNum(), Rtp(1, 90000, {0x65, 7, 7}, ssrc));
    SendFrom(otherServerPort, video->clientPortNum(), Rtp(2, 90000, {0x65, 6, 6}, ssrc));
    SendFrom(foreignHost, clientRtcp, Bye(ssrc));
    SendFrom(serverRtp, clientRtcp, Bye(ssrc)); // the server's RTP port is not its RTCP port
    Step(20);
    EXPECT_TRUE(sink->units.empty());
    EXPECT_EQ(byes, 0);

    SendFrom(serverRtp, video->clientPortNum(), Rtp(3, 93600, {0x41, 1}, ssrc));
    SendFrom(serverRtcp, clientRtcp, Bye(ssrc));
    Step(20);
    EXPECT_EQ(sink->units, (std::vector<Bytes>{{0x41, 1}}));
    EXPECT_EQ(byes, 1);

    for (const int fd : {serverRtp, serverRtcp, otherServerPort, foreignHost}) {
        close(fd);
    }
    Medium::close(sink);
    Medium::close(session);
}

// A client whose interleaved packets go to its session.
class InterleavedClient final : public RTSPClient {
public:
    InterleavedClient(UsageEnvironment& env, const std::string& url)
        : RTSPClient(env, url.c_str(), 0, nullptr, 0, -1)
    {
    }
    ~InterleavedClient() override = default;
    MediaSession* session = nullptr;
    std::vector<int> codes;
    std::vector<std::string> texts;
    std::string closedBecause;

private:
    bool OnInterleavedPacket(uint8_t channel, const uint8_t* data, size_t size) override
    {
        return session != nullptr && session->DeliverInterleaved(channel, data, size);
    }
    void OnConnectionLost(const std::string& reason) override { closedBecause = reason; }
};

void Answered(RTSPClient* client, int code, char* text)
{
    auto* self = static_cast<InterleavedClient*>(client);
    self->codes.push_back(code);
    self->texts.push_back(text != nullptr ? text : "");
    delete[] text;
}

std::string Interleave(uint8_t channel, const Bytes& packet)
{
    return std::string("$") + static_cast<char>(channel) + static_cast<char>(packet.size() >> 8) +
           static_cast<char>(packet.size() & 0xFF) + std::string(packet.begin(), packet.end());
}

TEST_F(RtpReceptionTest, InterleavedRtpAndRtcpTravelOnTheRtspConnectionAmidItsAnswers)
{
    const uint32_t ssrc = 0x51;
    const Bytes idr{0x65, 1, 2, 3};
    const Bytes slice(3000, 0x41); // cut into many reads by the server
    const Bytes later{0x41, 9};
    ScriptedServer server([&](const std::string& request, int index) -> std::string {
        const std::string ok = "RTSP/1.0 200 OK\r\nCSeq: " + CSeqOf(request) + "\r\n";
        switch (index) {
        case 0:
            return ok + "Session: S1\r\nTransport: RTP/AVP/TCP;unicast;interleaved=0-1\r\n\r\n";
        case 1: // PLAY: the video follows the answer at once
            return ok + "\r\n" + Interleave(0, Rtp(1, 9000, idr, ssrc)) +
                   Interleave(0, Rtp(2, 12600, slice, ssrc));
        case 2: // a keep-alive answered amid the video, which ends with a BYE
            return Interleave(0, Rtp(3, 16200, later, ssrc)) + ok + "Content-Length: 2\r\n\r\nok" +
                   Interleave(1, Bye(ssrc));
        default: // a packet on a channel nothing was set up on
            return Interleave(7, {1, 2, 3}) + ok + "\r\n";
        }
    });
    InterleavedClient client(*env_, server.Url());
    MediaSession* session =
        MediaSession::createNew(*env_, "v=0\r\nm=video 0 RTP/AVP 96\r\na=rtpmap:96 H264/90000\r\n");
    ASSERT_NE(session, nullptr);
    client.session = session;
    MediaSubsessionIterator iter(*session);
    MediaSubsession* video = iter.next();
    ASSERT_TRUE(video->initiateInterleaved(0, [&client](uint8_t channel, const uint8_t* data, size_t size) {
        client.SendInterleaved(channel, data, size);
    }));
    auto* sink = CollectingSink::createNew(*env_);
    ASSERT_TRUE(sink->startPlaying(*video->readSource(), nullptr, nullptr));
    bool bye = false;
    video->rtcpInstance()->setByeHandler([](void* flag) { *static_cast<bool*>(flag) = true; }, &bye);
    const auto runUntil = [&](const std::function<bool()>& done) {
        for (int i = 0; i < 1000 && !done(); ++i) {
            scheduler_.SingleStep(10000);
        }
    };

    client.sendSetupCommand(*video, Answered);
    runUntil([&] { return client.codes.size() == 1; });
    client.sendPlayCommand(*session, Answered);
    runUntil([&] { return client.codes.size() == 2 && sink->units.size() == 2; });
    client.sendGetParameterCommand(*session, Answered, nullptr);
    runUntil([&] { return client.codes.size() == 3 && bye; });
    EXPECT_EQ(client.codes, (std::vector<int>{0, 0, 0}));
    EXPECT_EQ(client.texts.back(), "ok");
    EXPECT_EQ(sink->units, (std::vector<Bytes>{idr, slice, later}));
    EXPECT_TRUE(bye);
    ASSERT_FALSE(server.Requests().empty());
    EXPECT_EQ(HeaderOf(server.Requests()[0], "Transport"), "RTP/AVP/TCP;unicast;interleaved=0-1");

    // Closed, the receiver says so on the RTCP channel: a report and a BYE.
    Medium::close(sink);
    client.session = nullptr;
    Medium::close(session);
    runUntil([&] { return !server.Interleaved().empty(); });
    ASSERT_EQ(server.Interleaved().size(), 1u);
    const std::string rtcp = server.Interleaved()[0];
    ASSERT_GT(rtcp.size(), 2u);
    EXPECT_EQ(rtcp[0], 1);                                                       // the channel
    EXPECT_EQ(static_cast<uint8_t>(rtcp[2]), 201);                               // a receiver report first
    EXPECT_NE(rtcp.find(std::string("\x81\xCB\x00\x01", 4)), std::string::npos); // and a BYE

    client.sendDescribeCommand(Answered);
    runUntil([&] { return client.codes.size() == 4; });
    const std::string lost = "Received an interleaved packet on channel 7, which nothing was set up on";
    EXPECT_EQ(client.codes.back(), -1);
    EXPECT_EQ(client.texts.back(), lost);
    EXPECT_EQ(client.closedBecause, lost);
    EXPECT_FALSE(client.IsConnected());
}

} // namespace
