#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// What one simulated device is and holds. The network fields use the wire's
// conventions: IPv4 values in network byte order, connection type 0 (DHCP) or
// 1 (static). Each part of the simulator keeps the state it changes here, so
// that what one part changes (a new name over UDP, a zone over HTTP) is what
// every part reports next.
struct DeviceState {
    // Network identity and settings, changed by UDP settings requests.
    std::string productName;
    std::string deviceName;
    uint32_t ip = 0;
    uint32_t mask = 0;
    uint32_t gateway = 0;
    uint32_t dns = 0;
    uint8_t mac[6] = {};
    uint8_t connectionType = 1;
    std::string firmware;
    std::string serialNo;
    // Administrator password of the UDP settings exchange (checked by its MD5 digest).
    std::string password;

    // Analytics configuration and video source, served and changed over HTTP;
    // shared so that copies of the record see the same configuration.
    std::shared_ptr<class VcaConfigState> webConfig;
};

// Every device one simulator process plays. The parts run on threads of their
// own, so every access to `devices` holds `mutex`.
struct DeviceSet {
    std::mutex mutex;
    std::vector<DeviceState> devices; // guarded by mutex; the size never changes after start

    // Index of the device with this MAC address, or -1.
    int FindByMac(const uint8_t* mac) const;
};
