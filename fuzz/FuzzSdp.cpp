// SDP descriptions as a DESCRIBE answer carries them.
#include "SdpDescription.h"
#include "TextUtils.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    SdpDescription description;
    std::string error;
    if (!ParseSdp(text, description, error)) {
        if (error.empty()) {
            std::abort(); // a refusal always says why
        }
        return 0;
    }
    if (description.media.size() > kMaxSdpMedia) {
        std::abort();
    }
    for (const SdpMedia& media : description.media) {
        if (media.port > 65535 || media.payloadFormat > 127) {
            std::abort();
        }
        const auto sprops = media.fmtp.find("sprop-parameter-sets");
        if (sprops != media.fmtp.end()) {
            const std::string& value = sprops->second;
            const size_t comma = value.find(',');
            base64Decode(value.substr(0, comma).c_str(), false);
            if (comma != std::string::npos) {
                base64Decode(value.substr(comma + 1).c_str(), false);
            }
        }
    }
    return 0;
}
