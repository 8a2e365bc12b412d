#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

// One RTSP message read from the server: a response, or (rarely) a request the
// server sends on its own, which the client skips.
struct RtspResponse {
    bool isRequest = false;
    int statusCode = 0;
    std::string reasonPhrase;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;

    // First header of that name (case-insensitive), or null.
    const std::string* Header(const std::string& name) const;
    std::vector<std::string> Headers(const std::string& name) const;
    // The CSeq header as a number; false when missing or not a number.
    bool CSeq(unsigned& cseq) const;
};

enum class RtspParseResult { Incomplete, Complete, Invalid };

// Limits on what one message may occupy; larger ones are invalid.
constexpr size_t kMaxRtspHeaderBytes = 64 * 1024;
constexpr size_t kMaxRtspBodyBytes = 1024 * 1024;

// What an Incomplete parse learnt about the message at the start of the
// buffer, so that the next parse after more bytes arrive does not start over:
// where the search for the end of the headers resumes, and the whole message's
// size once the headers are known. Reset it when that message is consumed.
struct RtspParseProgress {
    size_t scanned = 0;
    size_t needed = 0;
};

// Parses one message from the start of `data`. On Complete, `consumed` is the
// byte count of the message; on Incomplete more bytes are needed; Invalid means
// the stream cannot be parsed any further. With `progress`, a parse of a
// longer buffer that starts with the same bytes resumes where the last one
// stopped.
RtspParseResult ParseRtspResponse(const char* data, size_t size, RtspResponse& out, size_t& consumed,
                                  RtspParseProgress* progress = nullptr);

// "Session: <id>[;timeout=<s>]". False when the id is empty.
bool ParseSessionHeader(const std::string& value, std::string& sessionId, unsigned& timeoutSeconds);

struct TransportInfo {
    unsigned serverRtpPort = 0;
    unsigned serverRtcpPort = 0;
    std::string source; // source= address, empty when not given
    // interleaved=RTP[-RTCP] channels, for RTP over the RTSP connection.
    bool interleaved = false;
    unsigned rtpChannel = 0;
    unsigned rtcpChannel = 0;
};

// The server's answer in the Transport header of a SETUP response. True when
// it names the server's ports, or interleaved channels.
bool ParseTransportHeader(const std::string& value, TransportInfo& info);
