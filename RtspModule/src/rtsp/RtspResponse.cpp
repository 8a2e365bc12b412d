#include "RtspResponse.h"

#include "TextUtils.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>

namespace {

// Finds the end of the header section ("\r\n\r\n", or "\n\n" from lax servers).
bool FindHeaderEnd(const char* data, size_t size, size_t from, size_t& headerEnd, size_t& bodyStart)
{
    for (size_t i = from; i < size; ++i) {
        if (data[i] != '\n') {
            continue;
        }
        if (i + 1 < size && data[i + 1] == '\n') {
            headerEnd = i;
            bodyStart = i + 2;
            return true;
        }
        if (i + 2 < size && data[i + 1] == '\r' && data[i + 2] == '\n') {
            headerEnd = i;
            bodyStart = i + 3;
            return true;
        }
    }
    return false;
}

} // namespace

const std::string* RtspResponse::Header(const std::string& name) const
{
    for (const auto& [key, value] : headers) {
        if (EqualsNoCase(key, name)) {
            return &value;
        }
    }
    return nullptr;
}

std::vector<std::string> RtspResponse::Headers(const std::string& name) const
{
    std::vector<std::string> values;
    for (const auto& [key, value] : headers) {
        if (EqualsNoCase(key, name)) {
            values.push_back(value);
        }
    }
    return values;
}

bool RtspResponse::CSeq(unsigned& cseq) const
{
    const std::string* value = Header("CSeq");
    return value != nullptr && ParseDecimal(Trim(*value), cseq);
}

RtspParseResult ParseRtspResponse(const char* data, size_t size, RtspResponse& out, size_t& consumed,
                                  RtspParseProgress* progress)
{
    consumed = 0;
    out = RtspResponse();
    if (progress != nullptr && size < progress->needed) {
        return RtspParseResult::Incomplete; // the body is still arriving
    }
    size_t headerEnd = 0;
    size_t bodyStart = 0;
    const size_t searchSize = std::min(size, kMaxRtspHeaderBytes);
    const size_t from = progress != nullptr ? std::min(progress->scanned, searchSize) : 0;
    if (!FindHeaderEnd(data, searchSize, from, headerEnd, bodyStart)) {
        if (progress != nullptr) {
            // The last two bytes may begin the blank line that ends the headers.
            progress->scanned = searchSize > 2 ? searchSize - 2 : 0;
        }
        return size >= kMaxRtspHeaderBytes ? RtspParseResult::Invalid : RtspParseResult::Incomplete;
    }

    const std::string head(data, headerEnd);
    size_t lineStart = 0;
    bool first = true;
    while (lineStart <= head.size()) {
        size_t lineEnd = head.find('\n', lineStart);
        if (lineEnd == std::string::npos) {
            lineEnd = head.size();
        }
        std::string line = head.substr(lineStart, lineEnd - lineStart);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        lineStart = lineEnd + 1;
        if (first) {
            first = false;
            if (StartsWithNoCase(line, "RTSP/")) {
                // "RTSP/1.0 200 OK"
                const size_t space = line.find(' ');
                if (space == std::string::npos) {
                    return RtspParseResult::Invalid;
                }
                const size_t codeEnd = line.find(' ', space + 1);
                const std::string code = line.substr(
                    space + 1, codeEnd == std::string::npos ? std::string::npos : codeEnd - space - 1);
                unsigned status = 0;
                if (code.size() != 3 || !ParseDecimal(code, status)) {
                    return RtspParseResult::Invalid;
                }
                out.statusCode = static_cast<int>(status);
                out.reasonPhrase =
                    codeEnd == std::string::npos ? std::string() : Trim(line.substr(codeEnd + 1));
            } else {
                // A request from the server: "METHOD url RTSP/1.0".
                const size_t lastSpace = line.rfind(' ');
                if (lastSpace == std::string::npos ||
                    !StartsWithNoCase(line.substr(lastSpace + 1), "RTSP/")) {
                    return RtspParseResult::Invalid;
                }
                out.isRequest = true;
            }
            continue;
        }
        if (line.empty()) {
            continue;
        }
        if ((line[0] == ' ' || line[0] == '\t') && !out.headers.empty()) {
            out.headers.back().second += " " + Trim(line); // folded continuation line
            continue;
        }
        const size_t colon = line.find(':');
        if (colon == std::string::npos) {
            continue; // not a header; ignored like unknown headers
        }
        out.headers.emplace_back(Trim(line.substr(0, colon)), Trim(line.substr(colon + 1)));
    }

    unsigned contentLength = 0;
    if (const std::string* length = out.Header("Content-Length")) {
        if (!ParseDecimal(Trim(*length), contentLength) || contentLength > kMaxRtspBodyBytes) {
            return RtspParseResult::Invalid;
        }
    }
    if (size - bodyStart < contentLength) {
        if (progress != nullptr) {
            progress->needed = bodyStart + contentLength;
        }
        return RtspParseResult::Incomplete;
    }
    out.body.assign(data + bodyStart, contentLength);
    consumed = bodyStart + contentLength;
    return RtspParseResult::Complete;
}

bool ParseSessionHeader(const std::string& value, std::string& sessionId, unsigned& timeoutSeconds)
{
    const size_t semicolon = value.find(';');
    sessionId = Trim(value.substr(0, semicolon));
    timeoutSeconds = 0;
    if (semicolon != std::string::npos) {
        const std::string rest = value.substr(semicolon + 1);
        const size_t pos = rest.find("timeout=");
        if (pos != std::string::npos) {
            std::string number = rest.substr(pos + 8);
            number = Trim(number.substr(0, number.find(';')));
            unsigned timeout = 0;
            if (ParseDecimal(number, timeout)) {
                timeoutSeconds = timeout;
            }
        }
    }
    return !sessionId.empty();
}

namespace {

// "A" or "A-B" (ports or channels), each at most `max`: false without a valid
// A; `second` is set only by a valid B.
bool ParseNumberPair(const std::string& text, unsigned max, unsigned& first, std::optional<unsigned>& second)
{
    const size_t dash = text.find('-');
    if (!ParseDecimal(text.substr(0, dash), first, max)) {
        return false;
    }
    unsigned value = 0;
    if (dash != std::string::npos && ParseDecimal(text.substr(dash + 1), value, max)) {
        second = value;
    }
    return true;
}

} // namespace

bool ParseTransportHeader(const std::string& value, TransportInfo& info)
{
    info = TransportInfo();
    // Only the first transport in the list counts.
    const std::string first = value.substr(0, value.find(','));
    size_t start = 0;
    while (start <= first.size()) {
        const size_t semicolon = first.find(';', start);
        const std::string part =
            Trim(first.substr(start, semicolon == std::string::npos ? std::string::npos : semicolon - start));
        if (StartsWithNoCase(part, "server_port=")) {
            unsigned rtp = 0;
            std::optional<unsigned> rtcp;
            if (ParseNumberPair(part.substr(12), 65535, rtp, rtcp)) {
                info.serverRtpPort = rtp;
                info.serverRtcpPort = rtcp.value_or(rtp < 65535 ? rtp + 1 : 0);
            }
        } else if (StartsWithNoCase(part, "source=")) {
            info.source = part.substr(7);
        } else if (StartsWithNoCase(part, "interleaved=")) {
            unsigned rtp = 0;
            std::optional<unsigned> rtcp;
            if (ParseNumberPair(part.substr(12), 255, rtp, rtcp)) {
                info.interleaved = true;
                info.rtpChannel = rtp;
                info.rtcpChannel = rtcp.value_or(rtp < 255 ? rtp + 1 : rtp);
            }
        }
        if (semicolon == std::string::npos) {
            break;
        }
        start = semicolon + 1;
    }
    return info.serverRtpPort != 0 || info.interleaved;
}
