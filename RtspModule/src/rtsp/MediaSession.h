#pragma once

#include "Medium.h"
#include "SdpDescription.h"

#include <netinet/in.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class FramedSource;
class MediaSink;
class MediaSubsession;
class RtpSource;
class RTCPInstance;
struct TransportInfo;

// A session made from an SDP description: session-level attributes and one
// subsession per "m=" line. Owns its subsessions.
class MediaSession final : public Medium {
public:
    // Null (with the reason in the environment's result message) when the SDP
    // cannot be parsed.
    static MediaSession* createNew(UsageEnvironment& env, const char* sdpDescription);

    bool hasSubsessions() const { return !subsessions_.empty(); }
    double playStartTime() const { return sdp_.playStartTime; }
    double playEndTime() const { return sdp_.playEndTime; }
    // Null when the description gives no absolute ("clock=") range.
    const char* absStartTime() const;
    const char* absEndTime() const;
    const char* controlPath() const { return sdp_.control.c_str(); }
    const char* sessionName() const { return sdp_.sessionName.c_str(); }

    // Hands a packet that arrived on the RTSP connection to the subsession
    // set up on its channel; false when there is none.
    bool DeliverInterleaved(uint8_t channel, const uint8_t* data, size_t size);

private:
    friend class MediaSubsessionIterator;
    MediaSession(UsageEnvironment& env, SdpDescription sdp);
    ~MediaSession() override;

    SdpDescription sdp_;
    std::vector<std::unique_ptr<MediaSubsession>> subsessions_;
};

class MediaSubsessionIterator {
public:
    explicit MediaSubsessionIterator(const MediaSession& session) : session_(session) {}
    MediaSubsession* next();
    void reset() { index_ = 0; }

private:
    const MediaSession& session_;
    size_t index_ = 0;
};

// One medium of a session: its SDP attributes, and once initiated its RTP and
// RTCP sockets (an even port and the next odd one), or its two channels on the
// RTSP connection, its source and RTCP instance. The RTSP client records the
// server's side of the SETUP answer here.
class MediaSubsession {
public:
    // Writes one packet on the RTSP connection.
    using InterleavedSender = std::function<void(uint8_t channel, const uint8_t* data, size_t size)>;

    MediaSubsession(MediaSession& parent, SdpMedia media);
    ~MediaSubsession();
    MediaSubsession(const MediaSubsession&) = delete;
    MediaSubsession& operator=(const MediaSubsession&) = delete;

    MediaSession& parentSession() const { return parent_; }
    const char* mediumName() const { return media_.mediumName.c_str(); }
    const char* codecName() const { return media_.codecName.c_str(); }
    const char* controlPath() const { return media_.control.c_str(); }
    unsigned rtpPayloadFormat() const { return media_.payloadFormat; }
    unsigned rtpTimestampFrequency() const { return media_.timestampFrequency; }
    unsigned numChannels() const { return media_.numChannels; }
    double playStartTime() const { return media_.playStartTime; }
    double playEndTime() const { return media_.playEndTime; }
    // The "sprop-parameter-sets" fmtp value, or null when there is none.
    const char* fmtp_spropparametersets() const;
    // Any fmtp value by lower-case name, or null.
    const char* fmtpAttribute(const std::string& name) const;

    // Opens the sockets and creates source and RTCP instance; false (reason in
    // the environment's result message) when no port pair could be bound.
    bool initiate();
    unsigned short clientPortNum() const { return clientPort_; }
    bool rtcpIsMuxed() const { return false; }

    // Prepares reception on the RTSP connection instead: RTP on `rtpChannel`,
    // RTCP on the next one, receiver reports written through `send` once the
    // SETUP answer has come. The server's answer may choose other channels.
    // `send` must stay callable while the subsession lives: its RTCP instance
    // says BYE through it when closed.
    bool initiateInterleaved(uint8_t rtpChannel, InterleavedSender send);
    bool isInterleaved() const { return interleaved_; }
    uint8_t rtpChannel() const { return rtpChannel_; }
    uint8_t rtcpChannel() const { return rtcpChannel_; }
    // False when `channel` is not one of this subsession's.
    bool DeliverInterleaved(uint8_t channel, const uint8_t* data, size_t size);

    RtpSource* rtpSource() const { return rtpSource_; }
    FramedSource* readSource() const;
    RTCPInstance* rtcpInstance() const { return rtcpInstance_; }

    // From the SETUP answer: the session id and where the server sends from.
    void SetServerTransport(const sockaddr_in& serverAddress, const TransportInfo& transport);
    const std::string& sessionId() const { return sessionId_; }
    void SetSessionId(const std::string& id) { sessionId_ = id; }
    unsigned short serverRtpPort() const { return serverRtpPort_; }

    MediaSink* sink = nullptr; // the reader, set by the application; not owned
    void* miscPtr = nullptr;   // free for the application

private:
    void CloseTransport();

    MediaSession& parent_;
    SdpMedia media_;
    int rtpSocket_ = -1;
    int rtcpSocket_ = -1;
    unsigned short clientPort_ = 0;
    RtpSource* rtpSource_ = nullptr;       // owned
    RTCPInstance* rtcpInstance_ = nullptr; // owned
    std::string sessionId_;
    unsigned short serverRtpPort_ = 0;
    bool interleaved_ = false;
    uint8_t rtpChannel_ = 0;
    uint8_t rtcpChannel_ = 0;
    InterleavedSender interleavedSender_;
};
