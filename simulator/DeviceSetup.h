#pragma once

#include "DeviceState.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

class SimOptions;

// The options that say which devices a process plays: how many, and the fields
// of the first one. Devices after the first take the first one's settings with
// the MAC address, IPv4 address, name and serial number counted up, so that
// every device is distinct; with --same-ip they all keep one address, as
// devices fresh from the factory do.
class DeviceSetup final {
public:
    static constexpr size_t kMaxCount = 10000;

    void RegisterOptions(SimOptions& options);
    // Fills `set` with the devices; fails only when no address is given and
    // none can be found on the host's interfaces.
    bool Build(DeviceSet& set, std::string& error) const;

private:
    size_t count_ = 1;
    DeviceState first_ = DefaultDevice();
    bool ipGiven_ = false;
    bool maskGiven_ = false;
    bool gatewayGiven_ = false;
    bool serialGiven_ = false;
    bool sameIp_ = false;
    std::map<size_t, std::string> passwords_; // device number (from 1) -> its own password

    static DeviceState DefaultDevice();
    bool AddPasswordOf(const std::string& value, std::string& error);
};

// Cuts a UTF-8 text to at most `maxBytes` bytes without splitting a character.
std::string CutUtf8(const std::string& text, size_t maxBytes);
