// An accepted settings reply must echo the expected type and MAC; the code is
// the byte at offset 7.
#include "DiscoveryProtocol.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const char kMac[kMacSize] = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
    for (const RequestType type : {NetworkSetting, AuthSetting}) {
        ResponseCode code = Success;
        if (!ParseNetworkAuthSettingsResponse(data, size, type, kMac, code)) {
            continue;
        }
        const bool valid = size >= kSettingsResponseMinSize && data[0] == type &&
                           std::memcmp(data + 1, kMac, kMacSize) == 0 && code == data[7];
        if (!valid) {
            std::abort();
        }
    }
    return 0;
}
