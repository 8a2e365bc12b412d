// RTSP responses as the client reads them from its TCP stream: successive
// messages from one buffer, and the header values it interprets.
#include "Authenticator.h"
#include "RtspResponse.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const char* text = reinterpret_cast<const char*>(data);
    size_t offset = 0;
    while (offset < size) {
        RtspResponse response;
        size_t consumed = 0;
        if (ParseRtspResponse(text + offset, size - offset, response, consumed) !=
            RtspParseResult::Complete) {
            break;
        }
        if (consumed == 0 || consumed > size - offset || response.body.size() > kMaxRtspBodyBytes) {
            std::abort();
        }
        offset += consumed;
        unsigned cseq = 0;
        response.CSeq(cseq);
        if (const std::string* session = response.Header("Session")) {
            std::string id;
            unsigned timeout = 0;
            ParseSessionHeader(*session, id, timeout);
        }
        if (const std::string* transport = response.Header("Transport")) {
            TransportInfo info;
            if (ParseTransportHeader(*transport, info) &&
                (info.serverRtpPort > 65535 || info.serverRtcpPort > 65535)) {
                std::abort();
            }
        }
        for (const std::string& challenge : response.Headers("WWW-Authenticate")) {
            Authenticator authenticator("user", "password");
            if (authenticator.SetChallenge(challenge)) {
                authenticator.AuthorizationHeader("DESCRIBE", "rtsp://host/path");
            }
        }
    }
    return 0;
}
