#include "DeviceWireFormat.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cstring>

namespace wire {

namespace {

void PutText(uint8_t* field, size_t width, const std::string& text)
{
    std::fill(field, field + width, 0);
    std::memcpy(field, text.data(), std::min(text.size(), width - 1));
}

} // namespace

bool IsDiscoverRequest(const uint8_t* data, size_t size)
{
    // Exactly the eight letters: anything longer is some other message.
    return size == 8 && std::memcmp(data, "discover", 8) == 0;
}

std::vector<uint8_t> ComposeDiscoverReply(const DeviceState& device)
{
    std::vector<uint8_t> reply(kDiscoverReplySize, 0);
    uint8_t* p = reply.data();
    PutText(p, 32, device.productName);
    PutText(p + 32, 32, device.deviceName);
    std::memcpy(p + 64, &device.ip, 4);
    std::memcpy(p + 68, device.mac, 6);
    std::memcpy(p + 74, &device.mask, 4);
    std::memcpy(p + 78, &device.gateway, 4);
    p[82] = device.connectionType;
    PutText(p + 83, 16, device.firmware);
    PutText(p + 99, 32, device.serialNo);
    return reply;
}

std::string FieldText(const uint8_t* field, size_t width)
{
    const uint8_t* end = std::find(field, field + width, 0);
    return std::string(reinterpret_cast<const char*>(field), static_cast<size_t>(end - field));
}

bool ParseNetworkRequest(const uint8_t* data, size_t size, NetworkRequest& request)
{
    if (size < kNetworkRequestSize || data[0] != kNetworkSetting) {
        return false;
    }
    std::memcpy(request.mac, data + 1, 6);
    request.deviceName = FieldText(data + 7, 32);
    std::memcpy(request.digest, data + 39, 16);
    request.connectionType = data[55];
    std::memcpy(&request.ip, data + 56, 4);
    std::memcpy(&request.mask, data + 60, 4);
    std::memcpy(&request.gateway, data + 64, 4);
    std::memcpy(&request.dns, data + 68, 4);
    return true;
}

bool ParseAuthRequest(const uint8_t* data, size_t size, AuthRequest& request)
{
    if (size < kAuthRequestSize || data[0] != kAuthSetting) {
        return false;
    }
    std::memcpy(request.mac, data + 1, 6);
    std::memcpy(request.digest, data + 7, 16);
    request.newPassword = FieldText(data + 23, 32);
    return true;
}

std::vector<uint8_t> ComposeSettingsReply(uint8_t requestType, const uint8_t* mac, uint8_t code)
{
    std::vector<uint8_t> reply(kSettingsReplySize, 0);
    reply[0] = requestType;
    std::memcpy(reply.data() + 1, mac, 6);
    reply[7] = code;
    return reply;
}

void PasswordDigest(const std::string& password, uint8_t (&digest)[16])
{
    unsigned int length = 0;
    EVP_Digest(password.data(), password.size(), digest, &length, EVP_md5(), nullptr);
}

} // namespace wire
