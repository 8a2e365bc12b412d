#pragma once

#include <map>
#include <string>
#include <vector>

// One "m=" section of an SDP description (RFC 4566).
struct SdpMedia {
    std::string mediumName; // "video", "audio", ...
    unsigned port = 0;
    std::string protocol; // "RTP/AVP"
    unsigned payloadFormat = 0;
    std::string codecName; // upper case, from a=rtpmap or the static table
    unsigned timestampFrequency = 0;
    unsigned numChannels = 1;
    std::string control;                     // a=control, empty when none
    std::map<std::string, std::string> fmtp; // a=fmtp parameters, keys lower-cased
    bool hasRange = false;
    double playStartTime = 0.0;
    double playEndTime = 0.0;
};

struct SdpDescription {
    std::string sessionName;
    std::string control; // session-level a=control
    double playStartTime = 0.0;
    double playEndTime = 0.0; // 0 = open end / live
    std::string absStartTime; // a=range:clock= start, empty when none
    std::string absEndTime;
    std::vector<SdpMedia> media;
};

// Limits on what a description may hold; larger ones are refused.
constexpr size_t kMaxSdpBytes = 64 * 1024;
constexpr size_t kMaxSdpMedia = 32;

// Parses an SDP text. On failure returns false with a reason in `error`.
bool ParseSdp(const std::string& text, SdpDescription& out, std::string& error);
