#pragma once

#include "DeviceNetworkParams.h"

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

// First byte of a settings request and of its reply.
enum RequestType : uint8_t {
    NetworkSetting = 1,
    AuthSetting = 2,
};

// Result byte of a settings reply; other values are passed through unchanged.
enum ResponseCode : uint8_t {
    Success = 0,
    InvalidPassword = 1,
    Error = 2,
};

constexpr size_t kDiscoverRequestSize = 8;
constexpr size_t kDiscoverResponseMinSize = 131;
constexpr size_t kNetworkSettingsRequestSize = 72;
constexpr size_t kAuthSettingsRequestSize = 55;
constexpr size_t kSettingsResponseMinSize = 8;
constexpr size_t kMd5DigestSize = 16;
constexpr size_t kMacSize = 6;
// The longest text (device name, new password) a request carries whole: its
// field has room for one byte more, the terminating NUL. Longer text is cut.
constexpr size_t kMaxRequestTextBytes = 31;

std::string ConnectionTypeToString(ConnectionType type);

std::vector<char> ComposeDiscoverRequest();
std::vector<char> ComposeNetworkSettingsRequest(const DeviceNetworkParams& params,
                                                const void* passwordDigest);
std::vector<char> ComposeAuthSettingsRequest(const char* mac, const void* passwordDigest,
                                             const std::string& newPassword);

// Hex dump of a network or password settings request for the log, two
// upper-case digits per byte separated by blanks, with the bytes of the
// password digest and of the new password written as "**": the digest is as
// good as the password in this protocol.
std::string SettingsRequestLogDump(const std::vector<char>& request);

bool ParseDiscoverResponse(const void* data, size_t size, DeviceNetworkParams& params);
bool ParseNetworkAuthSettingsResponse(const void* data, size_t size, RequestType expectedType,
                                      const char* expectedMac, ResponseCode& code);

// Reads a text field: the bytes before the first NUL, failing when the field
// holds none; with `wholeWidth` all `width` bytes.
bool ExtractString(const char* field, size_t width, std::string& destination, const char* label,
                   bool wholeWidth);

// Copies a number field unchanged (no byte-order conversion).
template <typename Number> void ExtractNumber(const char* field, size_t width, Number& destination)
{
    assert(width == sizeof(Number));
    std::memcpy(&destination, field, sizeof(Number));
}
