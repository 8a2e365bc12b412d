// Every accepted discovery reply must satisfy the field rules: texts that fit
// their width without the terminating NUL and a valid connection type.
#include "DiscoveryProtocol.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    DeviceNetworkParams params{};
    if (!ParseDiscoverResponse(data, size, params)) {
        return 0;
    }
    const bool valid = size >= kDiscoverResponseMinSize && params.productName.size() < 32 &&
                       params.deviceName.size() < 32 && params.firmWare.size() < 16 &&
                       params.serialNo.size() < 32 && params.productName.find('\0') == std::string::npos &&
                       (params.connectionType == DHCP || params.connectionType == STATIC) &&
                       std::memcmp(params.mac, data + 68, kMacSize) == 0 &&
                       std::memcmp(&params.ip, data + 64, 4) == 0;
    if (!valid) {
        std::abort();
    }
    return 0;
}
