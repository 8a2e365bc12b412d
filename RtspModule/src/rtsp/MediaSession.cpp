#include "MediaSession.h"

#include "RtcpInstance.h"
#include "RtpSource.h"
#include "RtspResponse.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Room for a burst of large key frames while the loop is busy elsewhere: a
// 3840x2160 key frame alone can take a few hundred kilobytes, and the kernel
// counts each datagram's bookkeeping as well. Capped at net.core.rmem_max.
constexpr int kReceiveBufferBytes = 4 * 1024 * 1024;
constexpr int kPortPairAttempts = 32;

int OpenUdpSocket(unsigned short port, unsigned short& boundPort)
{
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(port);
    if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        close(fd);
        return -1;
    }
    socklen_t length = sizeof(address);
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    boundPort = ntohs(address.sin_port);
    return fd;
}

} // namespace

MediaSession* MediaSession::createNew(UsageEnvironment& env, const char* sdpDescription)
{
    SdpDescription sdp;
    std::string error;
    if (sdpDescription == nullptr || !ParseSdp(sdpDescription, sdp, error)) {
        env.setResultMsg(sdpDescription == nullptr ? "No SDP description" : error);
        return nullptr;
    }
    return new MediaSession(env, std::move(sdp));
}

MediaSession::MediaSession(UsageEnvironment& env, SdpDescription sdp) : Medium(env), sdp_(std::move(sdp))
{
    for (const SdpMedia& media : sdp_.media) {
        subsessions_.push_back(std::make_unique<MediaSubsession>(*this, media));
    }
}

MediaSession::~MediaSession() = default;

const char* MediaSession::absStartTime() const
{
    return sdp_.absStartTime.empty() ? nullptr : sdp_.absStartTime.c_str();
}

const char* MediaSession::absEndTime() const
{
    return sdp_.absEndTime.empty() ? nullptr : sdp_.absEndTime.c_str();
}

bool MediaSession::DeliverInterleaved(uint8_t channel, const uint8_t* data, size_t size)
{
    for (const auto& subsession : subsessions_) {
        if (subsession->DeliverInterleaved(channel, data, size)) {
            return true;
        }
    }
    return false;
}

MediaSubsession* MediaSubsessionIterator::next()
{
    if (index_ >= session_.subsessions_.size()) {
        return nullptr;
    }
    return session_.subsessions_[index_++].get();
}

MediaSubsession::MediaSubsession(MediaSession& parent, SdpMedia media)
    : parent_(parent), media_(std::move(media))
{
}

MediaSubsession::~MediaSubsession()
{
    CloseTransport();
}

void MediaSubsession::CloseTransport()
{
    Medium::close(rtcpInstance_);
    rtcpInstance_ = nullptr;
    Medium::close(rtpSource_);
    rtpSource_ = nullptr;
    if (rtpSocket_ >= 0) {
        close(rtpSocket_);
        rtpSocket_ = -1;
    }
    if (rtcpSocket_ >= 0) {
        close(rtcpSocket_);
        rtcpSocket_ = -1;
    }
    clientPort_ = 0;
    interleaved_ = false;
    interleavedSender_ = nullptr;
}

const char* MediaSubsession::fmtpAttribute(const std::string& name) const
{
    const auto it = media_.fmtp.find(name);
    return it == media_.fmtp.end() ? nullptr : it->second.c_str();
}

const char* MediaSubsession::fmtp_spropparametersets() const
{
    return fmtpAttribute("sprop-parameter-sets");
}

FramedSource* MediaSubsession::readSource() const
{
    return rtpSource_;
}

bool MediaSubsession::initiate()
{
    if (rtpSource_ != nullptr) {
        return true;
    }
    UsageEnvironment& env = parent_.envir();
    // RTP takes an even port and RTCP the next one; the kernel picks the first
    // and an odd pick is simply tried again.
    for (int attempt = 0; attempt < kPortPairAttempts; ++attempt) {
        unsigned short rtpPort = 0;
        const int rtp = OpenUdpSocket(0, rtpPort);
        if (rtp < 0) {
            env.setResultErrMsg("Failed to create an RTP socket: ", errno);
            return false;
        }
        if (rtpPort % 2 != 0) {
            close(rtp);
            continue;
        }
        unsigned short rtcpPort = 0;
        const int rtcp = OpenUdpSocket(static_cast<unsigned short>(rtpPort + 1), rtcpPort);
        if (rtcp < 0) {
            close(rtp);
            continue;
        }
        rtpSocket_ = rtp;
        rtcpSocket_ = rtcp;
        clientPort_ = rtpPort;
        break;
    }
    if (rtpSocket_ < 0) {
        env.setResultMsg("Failed to find a free pair of RTP and RTCP ports");
        return false;
    }
    const int bufferSize = kReceiveBufferBytes;
    setsockopt(rtpSocket_, SOL_SOCKET, SO_RCVBUF, &bufferSize, sizeof(bufferSize));

    const bool h264 = media_.codecName == "H264";
    rtpSource_ = RtpSource::createNew(env, rtpSocket_, media_.payloadFormat, media_.timestampFrequency,
                                      h264 ? RtpDepacketizer::Mode::H264 : RtpDepacketizer::Mode::Raw);
    char host[256] = {};
    gethostname(host, sizeof(host) - 1);
    rtcpInstance_ = RTCPInstance::createNew(env, rtcpSocket_, rtpSource_, host);
    return true;
}

bool MediaSubsession::initiateInterleaved(uint8_t rtpChannel, InterleavedSender send)
{
    if (rtpSource_ != nullptr) {
        return interleaved_;
    }
    UsageEnvironment& env = parent_.envir();
    if (rtpChannel == 0xFF) {
        env.setResultMsg("No interleaved channel left for RTCP");
        return false;
    }
    interleaved_ = true;
    rtpChannel_ = rtpChannel;
    rtcpChannel_ = static_cast<uint8_t>(rtpChannel + 1);
    interleavedSender_ = std::move(send);
    const bool h264 = media_.codecName == "H264";
    rtpSource_ = RtpSource::createNew(env, -1, media_.payloadFormat, media_.timestampFrequency,
                                      h264 ? RtpDepacketizer::Mode::H264 : RtpDepacketizer::Mode::Raw);
    char host[256] = {};
    gethostname(host, sizeof(host) - 1);
    rtcpInstance_ = RTCPInstance::createNew(env, -1, rtpSource_, host);
    return true;
}

bool MediaSubsession::DeliverInterleaved(uint8_t channel, const uint8_t* data, size_t size)
{
    if (!interleaved_) {
        return false;
    }
    if (channel == rtpChannel_) {
        rtpSource_->HandlePacket(data, size);
        return true;
    }
    if (channel == rtcpChannel_) {
        rtcpInstance_->HandlePacket(data, size);
        return true;
    }
    return false;
}

void MediaSubsession::SetServerTransport(const sockaddr_in& serverAddress, const TransportInfo& transport)
{
    if (interleaved_) {
        if (transport.interleaved) {
            rtpChannel_ = static_cast<uint8_t>(transport.rtpChannel);
            rtcpChannel_ = static_cast<uint8_t>(transport.rtcpChannel);
        }
        if (rtcpInstance_ != nullptr && interleavedSender_) {
            const InterleavedSender send = interleavedSender_;
            const uint8_t channel = rtcpChannel_;
            rtcpInstance_->SetPacketSender(
                [send, channel](const uint8_t* data, size_t size) { send(channel, data, size); });
        }
        return;
    }
    serverRtpPort_ = static_cast<unsigned short>(transport.serverRtpPort);
    in_addr namedSource = serverAddress.sin_addr;
    if (!transport.source.empty()) {
        in_addr source{};
        if (inet_pton(AF_INET, transport.source.c_str(), &source) == 1) {
            namedSource = source;
        }
    }
    // Only the server's own packets count: another host could otherwise show
    // its pictures, keep a silent device alive or end the stream with a BYE.
    if (rtpSource_ != nullptr) {
        SenderFilter filter;
        filter.Set(serverAddress.sin_addr, namedSource, static_cast<uint16_t>(transport.serverRtpPort));
        rtpSource_->SetSenderFilter(filter);
    }
    if (rtcpInstance_ != nullptr) {
        SenderFilter filter;
        filter.Set(serverAddress.sin_addr, namedSource, static_cast<uint16_t>(transport.serverRtcpPort));
        rtcpInstance_->SetSenderFilter(filter);
        if (transport.serverRtcpPort != 0) {
            sockaddr_in destination = serverAddress;
            destination.sin_addr = namedSource;
            destination.sin_port = htons(static_cast<uint16_t>(transport.serverRtcpPort));
            rtcpInstance_->SetDestination(destination);
        }
    }
}
