#include "SdpDescription.h"

#include "TextUtils.h"

#include <charconv>

namespace {

// "12.5" or "now"; false for anything else.
bool ParseNpt(const std::string& text, double& seconds)
{
    if (text == "now") {
        seconds = 0.0;
        return true;
    }
    if (text.empty() || text.size() > 32) {
        return false;
    }
    // from_chars reads the C locale's form whatever the process locale.
    double value = 0.0;
    const char* const end = text.data() + text.size();
    const std::from_chars_result result = std::from_chars(text.data(), end, value);
    if (result.ec != std::errc() || result.ptr != end || !(value >= 0.0) || value > 1e9) {
        return false;
    }
    seconds = value;
    return true;
}

std::string Upper(std::string text)
{
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return text;
}

void ApplyStaticPayload(SdpMedia& media)
{
    struct Static {
        unsigned type;
        const char* codec;
        unsigned frequency;
    };
    static const Static kTable[] = {{0, "PCMU", 8000},   {8, "PCMA", 8000},  {14, "MPA", 90000},
                                    {26, "JPEG", 90000}, {32, "MPV", 90000}, {33, "MP2T", 90000}};
    for (const auto& entry : kTable) {
        if (entry.type == media.payloadFormat) {
            media.codecName = entry.codec;
            media.timestampFrequency = entry.frequency;
        }
    }
}

// "a=range:npt=0-10" / "a=range:clock=20200101T000000Z-".
void ParseRange(const std::string& value, bool& hasRange, double& start, double& end, std::string* absStart,
                std::string* absEnd)
{
    if (StartsWithNoCase(value, "npt=")) {
        const std::string range = value.substr(4);
        const size_t dash = range.find('-');
        if (dash == std::string::npos) {
            return;
        }
        double s = 0.0;
        double e = 0.0;
        if (!ParseNpt(Trim(range.substr(0, dash)), s)) {
            return;
        }
        const std::string endText = Trim(range.substr(dash + 1));
        if (!endText.empty() && !ParseNpt(endText, e)) {
            return;
        }
        hasRange = true;
        start = s;
        end = e;
    } else if (StartsWithNoCase(value, "clock=") && absStart != nullptr && absEnd != nullptr) {
        const std::string range = value.substr(6);
        const size_t dash = range.find('-');
        *absStart = Trim(range.substr(0, dash));
        *absEnd = dash == std::string::npos ? std::string() : Trim(range.substr(dash + 1));
    }
}

bool ParseMediaLine(const std::string& value, SdpMedia& media)
{
    // "<media> <port>[/<count>] <proto> <fmt> ..."
    std::vector<std::string> fields;
    size_t start = 0;
    while (start < value.size() && fields.size() < 4) {
        const size_t space = value.find(' ', start);
        const std::string field =
            value.substr(start, space == std::string::npos ? std::string::npos : space - start);
        if (!field.empty()) {
            fields.push_back(field);
        }
        if (space == std::string::npos) {
            break;
        }
        start = space + 1;
    }
    if (fields.size() < 4) {
        return false;
    }
    media.mediumName = fields[0];
    if (!ParseDecimal(fields[1].substr(0, fields[1].find('/')), media.port, 65535)) {
        return false;
    }
    media.protocol = fields[2];
    if (!ParseDecimal(fields[3], media.payloadFormat, 127)) {
        return false;
    }
    ApplyStaticPayload(media);
    return true;
}

void ParseRtpmap(const std::string& value, SdpMedia& media)
{
    // "<payload> <encoding>/<clock>[/<channels>]"
    const size_t space = value.find(' ');
    unsigned payload = 0;
    if (space == std::string::npos || !ParseDecimal(value.substr(0, space), payload, 127) ||
        payload != media.payloadFormat) {
        return;
    }
    const std::string encoding = Trim(value.substr(space + 1));
    const size_t slash = encoding.find('/');
    media.codecName = Upper(encoding.substr(0, slash));
    if (slash == std::string::npos) {
        return;
    }
    const std::string rest = encoding.substr(slash + 1);
    const size_t slash2 = rest.find('/');
    unsigned frequency = 0;
    if (ParseDecimal(rest.substr(0, slash2), frequency, 10000000)) {
        media.timestampFrequency = frequency;
    }
    unsigned channels = 0;
    if (slash2 != std::string::npos && ParseDecimal(rest.substr(slash2 + 1), channels, 255)) {
        media.numChannels = channels;
    }
}

void ParseFmtp(const std::string& value, SdpMedia& media)
{
    // "<payload> key=value;key=value"
    const size_t space = value.find(' ');
    unsigned payload = 0;
    if (space == std::string::npos || !ParseDecimal(value.substr(0, space), payload, 127) ||
        payload != media.payloadFormat) {
        return;
    }
    const std::string params = value.substr(space + 1);
    size_t start = 0;
    while (start < params.size()) {
        const size_t semicolon = params.find(';', start);
        const std::string item = Trim(
            params.substr(start, semicolon == std::string::npos ? std::string::npos : semicolon - start));
        const size_t equals = item.find('=');
        if (!item.empty()) {
            std::string key = Trim(item.substr(0, equals));
            for (char& c : key) {
                if (c >= 'A' && c <= 'Z') {
                    c = static_cast<char>(c - 'A' + 'a');
                }
            }
            media.fmtp[key] = equals == std::string::npos ? std::string() : Trim(item.substr(equals + 1));
        }
        if (semicolon == std::string::npos) {
            break;
        }
        start = semicolon + 1;
    }
}

} // namespace

bool ParseSdp(const std::string& text, SdpDescription& out, std::string& error)
{
    out = SdpDescription();
    if (text.size() > kMaxSdpBytes) {
        error = "SDP description too large";
        return false;
    }
    bool sawVersion = false;
    size_t lineStart = 0;
    while (lineStart < text.size()) {
        size_t lineEnd = text.find('\n', lineStart);
        if (lineEnd == std::string::npos) {
            lineEnd = text.size();
        }
        std::string line = text.substr(lineStart, lineEnd - lineStart);
        lineStart = lineEnd + 1;
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.empty()) {
            continue;
        }
        if (line.size() < 2 || line[1] != '=') {
            continue; // not an SDP line; lax senders add such lines, skip them
        }
        const char type = line[0];
        const std::string value = line.substr(2);
        if (!sawVersion) {
            if (type != 'v') {
                error = "SDP description does not begin with a \"v=\" line";
                return false;
            }
            sawVersion = true;
            continue;
        }
        SdpMedia* media = out.media.empty() ? nullptr : &out.media.back();
        if (type == 'm') {
            if (out.media.size() >= kMaxSdpMedia) {
                error = "SDP description has too many media";
                return false;
            }
            SdpMedia parsed;
            if (!ParseMediaLine(value, parsed)) {
                error = "Bad SDP \"m=\" line: " + line;
                return false;
            }
            out.media.push_back(parsed);
        } else if (type == 's' && media == nullptr) {
            out.sessionName = value;
        } else if (type == 'a') {
            const size_t colon = value.find(':');
            const std::string name = value.substr(0, colon);
            const std::string attr =
                colon == std::string::npos ? std::string() : Trim(value.substr(colon + 1));
            if (name == "control") {
                (media != nullptr ? media->control : out.control) = attr;
            } else if (name == "range") {
                if (media != nullptr) {
                    ParseRange(attr, media->hasRange, media->playStartTime, media->playEndTime, nullptr,
                               nullptr);
                } else {
                    bool hasRange = false;
                    ParseRange(attr, hasRange, out.playStartTime, out.playEndTime, &out.absStartTime,
                               &out.absEndTime);
                }
            } else if (name == "rtpmap" && media != nullptr) {
                ParseRtpmap(attr, *media);
            } else if (name == "fmtp" && media != nullptr) {
                ParseFmtp(attr, *media);
            }
        }
    }
    if (!sawVersion) {
        error = "SDP description is empty";
        return false;
    }
    return true;
}
