// Parsers of the RTSP/RTP layer: everything here reads data from the network.
#include "Authenticator.h"
#include "InterleavedFraming.h"
#include "RTSPClient.h"
#include "RtcpInstance.h"
#include "RtspResponse.h"
#include "SdpDescription.h"
#include "TextUtils.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace std::string_literals;

TEST(RtspResponseTest, ParsesStatusHeadersAndBodyAndWaitsForTheRest)
{
    const std::string text =
        "RTSP/1.0 200 OK\r\nCSeq: 3\r\nContent-Base: rtsp://10.0.0.5/ch0/\r\nContent-Length: 10\r\n"
        "Session: 12AB;timeout=60\r\n\r\n0123456789RTSP/1.0 200 OK\r\n";
    RtspResponse response;
    size_t consumed = 0;
    ASSERT_EQ(ParseRtspResponse(text.data(), text.size(), response, consumed), RtspParseResult::Complete);
    EXPECT_EQ(response.statusCode, 200);
    EXPECT_EQ(response.reasonPhrase, "OK");
    unsigned cseq = 0;
    ASSERT_TRUE(response.CSeq(cseq));
    EXPECT_EQ(cseq, 3u);
    ASSERT_NE(response.Header("content-base"), nullptr);
    EXPECT_EQ(*response.Header("CONTENT-BASE"), "rtsp://10.0.0.5/ch0/");
    EXPECT_EQ(response.body, "0123456789");
    EXPECT_EQ(consumed, text.size() - std::string("RTSP/1.0 200 OK\r\n").size());

    // Every prefix of a complete message is incomplete, never invalid or complete.
    for (size_t cut = 0; cut < consumed; ++cut) {
        ASSERT_EQ(ParseRtspResponse(text.data(), cut, response, consumed), RtspParseResult::Incomplete)
            << cut;
    }

    std::string id;
    unsigned timeout = 0;
    ASSERT_TRUE(ParseSessionHeader("12AB;timeout=60", id, timeout));
    EXPECT_EQ(id, "12AB");
    EXPECT_EQ(timeout, 60u);
    ASSERT_TRUE(ParseSessionHeader(" 77 ", id, timeout));
    EXPECT_EQ(id, "77");
    EXPECT_EQ(timeout, 0u);
    EXPECT_FALSE(ParseSessionHeader(";timeout=5", id, timeout));
}

TEST(RtspResponseTest, RejectsBrokenMessagesAndSkipsServerRequests)
{
    RtspResponse response;
    size_t consumed = 0;
    const std::string broken[] = {
        "RTSP/1.0 2x0 OK\r\nCSeq: 1\r\n\r\n",                             // a code that is no number
        "RTSP/1.0 200 OK\r\nCSeq: 1\r\nContent-Length: 99999999\r\n\r\n", // a body too large
        "RTSP/1.0 200 OK\r\nContent-Length: -1\r\n\r\n",
        "HELLO\r\n\r\n",
        std::string(kMaxRtspHeaderBytes + 10, 'a'), // a header that never ends
    };
    for (const std::string& message : broken) {
        EXPECT_EQ(ParseRtspResponse(message.data(), message.size(), response, consumed),
                  RtspParseResult::Invalid)
            << message.substr(0, 60);
    }

    const std::string request = "OPTIONS * RTSP/1.0\r\nCSeq: 9\r\n\r\n";
    ASSERT_EQ(ParseRtspResponse(request.data(), request.size(), response, consumed),
              RtspParseResult::Complete);
    EXPECT_TRUE(response.isRequest);
    EXPECT_EQ(consumed, request.size());
}

TEST(RtspResponseTest, TransportHeaderGivesServerPorts)
{
    TransportInfo info;
    ASSERT_TRUE(ParseTransportHeader(
        "RTP/AVP;unicast;client_port=5000-5001;server_port=6970-6971;ssrc=1;mode=\"PLAY\"", info));
    EXPECT_EQ(info.serverRtpPort, 6970u);
    EXPECT_EQ(info.serverRtcpPort, 6971u);
    ASSERT_TRUE(ParseTransportHeader("RTP/AVP;unicast;source=10.0.0.9;server_port=7000", info));
    EXPECT_EQ(info.serverRtcpPort, 7001u);
    EXPECT_EQ(info.source, "10.0.0.9");
    EXPECT_FALSE(ParseTransportHeader("RTP/AVP;unicast;server_port=99999-1", info));
    EXPECT_FALSE(ParseTransportHeader("RTP/AVP;unicast", info));

    ASSERT_TRUE(ParseTransportHeader("RTP/AVP/TCP;unicast;interleaved=4-5;ssrc=1", info));
    EXPECT_TRUE(info.interleaved);
    EXPECT_EQ(info.rtpChannel, 4u);
    EXPECT_EQ(info.rtcpChannel, 5u);
    ASSERT_TRUE(ParseTransportHeader("RTP/AVP/TCP;interleaved=2", info));
    EXPECT_EQ(info.rtcpChannel, 3u);
    EXPECT_FALSE(ParseTransportHeader("RTP/AVP/TCP;interleaved=256-257", info));
}

// What a framing hands out, as text: "P<channel>:<payload>" or "M<message>".
std::vector<std::string> Items(InterleavedFraming& framing, const std::string& bytes, size_t piece)
{
    std::vector<std::string> items;
    for (size_t at = 0; at < bytes.size(); at += piece) {
        framing.Append(bytes.data() + at, std::min(piece, bytes.size() - at));
        for (;;) {
            const InterleavedFraming::Result result = framing.Next();
            if (result == InterleavedFraming::Result::Packet) {
                items.push_back(
                    "P" + std::to_string(framing.Channel()) + ":" +
                    std::string(reinterpret_cast<const char*>(framing.Payload()), framing.PayloadSize()));
            } else if (result == InterleavedFraming::Result::Message) {
                items.push_back("M" + framing.MessageText());
            } else if (result == InterleavedFraming::Result::Invalid) {
                items.push_back("!" + framing.Error());
                return items;
            } else {
                break;
            }
        }
    }
    return items;
}

std::string Frame(uint8_t channel, const std::string& payload)
{
    return std::string("$") + static_cast<char>(channel) + static_cast<char>(payload.size() >> 8) +
           static_cast<char>(payload.size() & 0xFF) + payload;
}

TEST(InterleavedFramingTest, PacketsAndMessagesComeApartHoweverTheReadsCutThem)
{
    // Payloads that look like messages and frames, a largest and an empty one,
    // line ends between messages, a server request and a message with a body.
    const std::string response = "RTSP/1.0 200 OK\r\nCSeq: 4\r\nContent-Length: 5\r\n\r\n$\x00\x00\x01x"s;
    const std::string request = "GET_PARAMETER rtsp://h/ RTSP/1.0\r\nCSeq: 1\r\n\r\n";
    const std::string fake = "RTSP/1.0 200 OK\r\n\r\n$\x01\xFF\xFF";
    const std::string largest(InterleavedFraming::kMaxPacketSize, '$');
    const std::string stream = Frame(0, fake) + response + "\r\n" + Frame(1, "") + Frame(0, largest) +
                               request + Frame(255, std::string(300, '\r'));
    const std::vector<std::string> expected{"P0:" + fake,  "M" + response,
                                            "P1:",         "P0:" + largest,
                                            "M" + request, "P255:" + std::string(300, '\r')};
    for (const size_t piece : {size_t{1}, size_t{2}, size_t{3}, size_t{7}, size_t{1000}, stream.size()}) {
        SCOPED_TRACE(piece);
        InterleavedFraming framing;
        EXPECT_EQ(Items(framing, stream, piece), expected);
        EXPECT_EQ(framing.BufferedBytes(), 0u);
    }
}

TEST(InterleavedFramingTest, LostFramingEndsTheStreamWithoutGrowing)
{
    // A length two bytes short leaves the rest of an RTP packet where the next
    // message or frame should start.
    const std::string rtp = "\x80\x60\x00\x01rest of the packet"s;
    InterleavedFraming framing;
    const std::string shortFrame = "$\x00\x00\x02"s + rtp;
    EXPECT_EQ(Items(framing, shortFrame, shortFrame.size()),
              (std::vector<std::string>{
                  "P0:" + rtp.substr(0, 2),
                  "!Received data that is neither an RTSP message nor an interleaved packet"}));
    // It stays invalid, and keeps nothing of what still comes.
    const std::string more = Frame(0, "abc");
    framing.Append(more.data(), more.size());
    EXPECT_EQ(framing.Next(), InterleavedFraming::Result::Invalid);
    EXPECT_EQ(framing.BufferedBytes(), 0u);
    framing.Clear();
    EXPECT_EQ(Items(framing, more, 1), std::vector<std::string>{"P0:abc"});

    // Text that never ends its headers is given up at the header limit.
    InterleavedFraming endless;
    const std::string text(kMaxRtspHeaderBytes + 10, 'A');
    const std::vector<std::string> items = Items(endless, text, 4096);
    EXPECT_EQ(items, std::vector<std::string>{"!Received an invalid RTSP response"});
    EXPECT_EQ(endless.BufferedBytes(), 0u);
}

// RFC 2617 section 3.5.
TEST(AuthenticatorTest, DigestMatchesTheRfcWorkedExample)
{
    Authenticator authenticator("Mufasa", "Circle Of Life");
    ASSERT_TRUE(authenticator.SetChallenge("Digest realm=\"testrealm@host.com\", qop=\"auth,auth-int\", "
                                           "nonce=\"dcd98b7102dd2f0e8b11d0f600bfb0c093\", "
                                           "opaque=\"5ccc069c403ebaf9f0171e9517f40e41\""));
    EXPECT_EQ(authenticator.ComputeDigestResponse("GET", "/dir/index.html", "00000001", "0a4f113b"),
              "6629fae49393a05397450978507c4ef1");
    const std::string header = authenticator.AuthorizationHeader("GET", "/dir/index.html");
    EXPECT_NE(header.find("username=\"Mufasa\""), std::string::npos);
    EXPECT_NE(header.find("qop=auth, nc=00000001"), std::string::npos);
    EXPECT_NE(header.find("opaque=\"5ccc069c403ebaf9f0171e9517f40e41\""), std::string::npos);
}

TEST(AuthenticatorTest, DigestWithoutQopAndBasicAndRefusedChallenges)
{
    Authenticator authenticator("root", "vbnq");
    EXPECT_FALSE(authenticator.HasChallenge());
    EXPECT_EQ(authenticator.AuthorizationHeader("DESCRIBE", "rtsp://a/b"), "");
    ASSERT_TRUE(authenticator.SetChallenge("Digest realm=\"IP Camera\", nonce=\"abc\""));
    const std::string ha1 = Md5Hex("root:IP Camera:vbnq");
    const std::string ha2 = Md5Hex("DESCRIBE:rtsp://a/b");
    EXPECT_EQ(authenticator.ComputeDigestResponse("DESCRIBE", "rtsp://a/b"), Md5Hex(ha1 + ":abc:" + ha2));

    Authenticator basic("Aladdin", "open sesame");
    ASSERT_TRUE(basic.SetChallenge("Basic realm=\"x\""));
    EXPECT_EQ(basic.AuthorizationHeader("DESCRIBE", "rtsp://a/b"), "Basic QWxhZGRpbjpvcGVuIHNlc2FtZQ==");

    Authenticator refused("u", "p");
    EXPECT_FALSE(refused.SetChallenge("Digest realm=\"x\"")); // no nonce
    EXPECT_FALSE(refused.SetChallenge("Digest realm=\"x\", nonce=\"n\", algorithm=SHA-256"));
    EXPECT_FALSE(refused.SetChallenge("Bearer token"));
    EXPECT_FALSE(refused.SetChallenge(""));
    EXPECT_EQ(Authenticator::ParseParameters("a=\"unterminated").at("a"), "unterminated");
}

TEST(SdpTest, VideoAndAudioWithControlsRangeAndParameterSets)
{
    const std::string sdp =
        "v=0\r\no=- 1 1 IN IP4 10.0.0.5\r\ns=Session streamed by the device\r\nt=0 0\r\n"
        "a=control:*\r\na=range:npt=0-\r\n"
        "m=video 0 RTP/AVP 96\r\nc=IN IP4 0.0.0.0\r\na=rtpmap:96 H264/90000\r\n"
        "a=fmtp:96 "
        "packetization-mode=1;profile-level-id=4D401E;sprop-parameter-sets=Z01AHpY1QWQ=,aO48gA==\r\n"
        "a=control:stream=0\r\n"
        "m=audio 0 RTP/AVP 8\r\na=control:rtsp://10.0.0.5/ch0/stream=1\r\n";
    SdpDescription description;
    std::string error;
    ASSERT_TRUE(ParseSdp(sdp, description, error)) << error;
    EXPECT_EQ(description.control, "*");
    EXPECT_EQ(description.playEndTime, 0.0);
    ASSERT_EQ(description.media.size(), 2u);
    const SdpMedia& video = description.media[0];
    EXPECT_EQ(video.mediumName, "video");
    EXPECT_EQ(video.codecName, "H264");
    EXPECT_EQ(video.timestampFrequency, 90000u);
    EXPECT_EQ(video.control, "stream=0");
    EXPECT_EQ(video.fmtp.at("sprop-parameter-sets"), "Z01AHpY1QWQ=,aO48gA==");
    const SdpMedia& audio = description.media[1];
    EXPECT_EQ(audio.codecName, "PCMA"); // static payload type 8
    EXPECT_EQ(audio.timestampFrequency, 8000u);

    EXPECT_EQ(RTSPClient::ResolveControl("rtsp://h/p/", "stream=0"), "rtsp://h/p/stream=0");
    EXPECT_EQ(RTSPClient::ResolveControl("rtsp://h/p", "stream=0"), "rtsp://h/p/stream=0");
    EXPECT_EQ(RTSPClient::ResolveControl("rtsp://h/p", "*"), "rtsp://h/p");
    EXPECT_EQ(RTSPClient::ResolveControl("rtsp://h/p", ""), "rtsp://h/p");
    EXPECT_EQ(RTSPClient::ResolveControl("rtsp://h/p", "rtsp://x/y"), "rtsp://x/y");
}

TEST(SdpTest, RangesAbsoluteTimesAndBadDescriptions)
{
    SdpDescription description;
    std::string error;
    ASSERT_TRUE(ParseSdp("v=0\na=range:npt=2.5-12.5\nm=video 0 RTP/AVP 96\n", description, error));
    EXPECT_DOUBLE_EQ(description.playEndTime - description.playStartTime, 10.0);
    EXPECT_EQ(description.media[0].codecName, ""); // dynamic type without rtpmap

    ASSERT_TRUE(ParseSdp("v=0\na=range:clock=20260101T000000Z-20260101T000100Z\n", description, error));
    EXPECT_EQ(description.absStartTime, "20260101T000000Z");
    EXPECT_EQ(description.absEndTime, "20260101T000100Z");
    EXPECT_TRUE(description.media.empty());

    EXPECT_FALSE(ParseSdp("", description, error));
    EXPECT_FALSE(ParseSdp("m=video 0 RTP/AVP 96\n", description, error)); // no v= line first
    EXPECT_FALSE(ParseSdp("v=0\nm=video\n", description, error));
    EXPECT_FALSE(ParseSdp("v=0\nm=video 70000 RTP/AVP 96\n", description, error));
    EXPECT_FALSE(ParseSdp("v=0\nm=video 0 RTP/AVP 200\n", description, error));
    // Attributes for another payload type, or malformed, are ignored.
    ASSERT_TRUE(ParseSdp("v=0\nm=video 0 RTP/AVP 96\na=rtpmap:97 H265/90000\na=rtpmap:x\na=fmtp:96\n",
                         description, error));
    EXPECT_EQ(description.media[0].codecName, "");
}

TEST(RtcpTest, SenderReportAndByeInACompoundPacket)
{
    const uint8_t packet[] = {0x80, 200, 0,    6, 0x11, 0x22, 0x33, 0x44,             // SR, sender SSRC
                              0xE0, 0,   0,    1, 0x80, 0,    0,    0,                // NTP time
                              0,    0,   0x10, 0, 0,    0,    0,    5,    0, 0, 0, 9, // RTP time, counts
                              0x81, 203, 0,    1, 0x11, 0x22, 0x33, 0x44};            // BYE
    RtcpPacketInfo info;
    ASSERT_TRUE(ParseRtcpCompound(packet, sizeof(packet), info));
    EXPECT_TRUE(info.hasSenderReport);
    EXPECT_EQ(info.senderSsrc, 0x11223344u);
    EXPECT_EQ(info.ntpSeconds, 0xE0000001u);
    EXPECT_EQ(info.ntpFraction, 0x80000000u);
    EXPECT_EQ(info.rtpTimestamp, 0x1000u);
    ASSERT_EQ(info.byeSsrcs.size(), 1u);
    EXPECT_EQ(info.byeSsrcs[0], 0x11223344u);

    // A BYE whose count claims more sources than its length holds reads only what is there.
    const uint8_t lying[] = {0x9F, 203, 0, 1, 1, 2, 3, 4};
    ASSERT_TRUE(ParseRtcpCompound(lying, sizeof(lying), info));
    EXPECT_EQ(info.byeSsrcs.size(), 1u);
    // A length beyond the datagram ends the walk; RTP is not RTCP.
    const uint8_t tooLong[] = {0x80, 203, 0, 9, 1, 2, 3, 4};
    EXPECT_FALSE(ParseRtcpCompound(tooLong, sizeof(tooLong), info));
    const uint8_t rtp[] = {0x80, 96, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1};
    EXPECT_FALSE(ParseRtcpCompound(rtp, sizeof(rtp), info));
}

TEST(TextTest, Base64AndUrls)
{
    const auto decoded = base64Decode("Z01AHpY1QWQ=", false);
    const std::vector<unsigned char> expected = {0x67, 0x4D, 0x40, 0x1E, 0x96, 0x35, 0x41, 0x64};
    EXPECT_EQ(decoded, expected);
    EXPECT_EQ(base64Decode("AAEAAA==", false), (std::vector<unsigned char>{0, 1, 0, 0}));
    EXPECT_EQ(base64Decode("AAEAAA==", true), (std::vector<unsigned char>{0, 1}));
    EXPECT_TRUE(base64Decode(nullptr).empty());
    EXPECT_TRUE(base64Decode("!!!").empty());

    std::string host;
    unsigned short port = 0;
    std::string user;
    std::string password;
    ASSERT_TRUE(
        RTSPClient::ParseRtspUrl("rtsp://10.77.0.11/ch0_unicast_firststream", host, port, user, password));
    EXPECT_EQ(host, "10.77.0.11");
    EXPECT_EQ(port, 554);
    ASSERT_TRUE(RTSPClient::ParseRtspUrl("rtsp://root:vb@nq@host:8554", host, port, user, password));
    EXPECT_EQ(user, "root");
    EXPECT_EQ(password, "vb@nq");
    EXPECT_EQ(host, "host");
    EXPECT_EQ(port, 8554);
    EXPECT_FALSE(RTSPClient::ParseRtspUrl("http://host/", host, port, user, password));
    EXPECT_FALSE(RTSPClient::ParseRtspUrl("rtsp://host:99999/", host, port, user, password));
    EXPECT_FALSE(RTSPClient::ParseRtspUrl("rtsp:///x", host, port, user, password));
}

} // namespace
