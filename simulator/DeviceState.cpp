#include "DeviceState.h"

#include <cstring>

int DeviceSet::FindByMac(const uint8_t* mac) const
{
    for (size_t i = 0; i < devices.size(); ++i) {
        if (std::memcmp(devices[i].mac, mac, sizeof devices[i].mac) == 0) {
            return static_cast<int>(i);
        }
    }
    return -1;
}
