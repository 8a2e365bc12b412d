#pragma once

#include "DeviceState.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The device's side of the binary UDP protocol: it recognises the requests a
// tool broadcasts and builds the replies, byte for byte as the tool expects.
namespace wire {

constexpr uint16_t kRequestPort = 49076;
constexpr uint16_t kReplyPort = 49077;
constexpr size_t kDiscoverReplySize = 131;
constexpr size_t kNetworkRequestSize = 72;
constexpr size_t kAuthRequestSize = 55;
constexpr size_t kSettingsReplySize = 8;
constexpr uint8_t kNetworkSetting = 1;
constexpr uint8_t kAuthSetting = 2;
constexpr uint8_t kSuccess = 0;
constexpr uint8_t kInvalidPassword = 1;

bool IsDiscoverRequest(const uint8_t* data, size_t size);

std::vector<uint8_t> ComposeDiscoverReply(const DeviceState& device);

struct NetworkRequest {
    uint8_t mac[6] = {};
    std::string deviceName;
    uint8_t digest[16] = {};
    uint8_t connectionType = 0;
    uint32_t ip = 0;
    uint32_t mask = 0;
    uint32_t gateway = 0;
    uint32_t dns = 0;
};
// Recognises a network settings request (type 1, at least 72 bytes).
bool ParseNetworkRequest(const uint8_t* data, size_t size, NetworkRequest& request);

struct AuthRequest {
    uint8_t mac[6] = {};
    uint8_t digest[16] = {};
    std::string newPassword;
};
// Recognises a password change request (type 2, at least 55 bytes).
bool ParseAuthRequest(const uint8_t* data, size_t size, AuthRequest& request);

std::vector<uint8_t> ComposeSettingsReply(uint8_t requestType, const uint8_t* mac, uint8_t code);

// MD5 digest of the password's bytes, as a request carries it.
void PasswordDigest(const std::string& password, uint8_t (&digest)[16]);

// Text of a fixed-width field: the bytes before the first NUL, or all of them
// when the field has none (a device is lenient where the tool is strict).
std::string FieldText(const uint8_t* field, size_t width);

} // namespace wire
