#include "DiscoveryProtocol.h"

#include "StringUtils.h"

#include <easylogging++.h>

#include <algorithm>

namespace {

constexpr char kDiscoverText[] = "discover";
constexpr size_t kNameWidth = 32;
constexpr size_t kPasswordWidth = 32;

// Writes `text` into a NUL-padded field, at most width - 1 bytes of it; the
// copy also stops at a NUL inside the text, like strncpy.
void PutText(char* field, size_t width, const std::string& text)
{
    std::fill(field, field + width, '\0');
    const size_t length = std::min(text.size(), width - 1);
    for (size_t i = 0; i < length && text[i] != '\0'; ++i) {
        field[i] = text[i];
    }
}

std::string MacText(const char* mac)
{
    return utils::GetPrintedBufferInHex(mac, kMacSize, kMacSize, "-");
}

} // namespace

std::string ConnectionTypeToString(ConnectionType type)
{
    switch (type) {
    case DHCP:
        return "DHCP";
    case STATIC:
        return "static";
    }
    return std::string();
}

std::vector<char> ComposeDiscoverRequest()
{
    return std::vector<char>(kDiscoverText, kDiscoverText + kDiscoverRequestSize);
}

std::vector<char> ComposeNetworkSettingsRequest(const DeviceNetworkParams& params, const void* passwordDigest)
{
    std::vector<char> request(kNetworkSettingsRequestSize, '\0');
    char* p = request.data();
    p[0] = static_cast<char>(NetworkSetting);
    std::memcpy(p + 1, params.mac, kMacSize);
    PutText(p + 7, kNameWidth, params.deviceName);
    std::memcpy(p + 39, passwordDigest, kMd5DigestSize);
    p[55] = static_cast<char>(params.connectionType);
    std::memcpy(p + 56, &params.ip, 4);
    std::memcpy(p + 60, &params.mask, 4);
    std::memcpy(p + 64, &params.gateway, 4);
    std::memcpy(p + 68, &params.dns, 4);
    return request;
}

std::vector<char> ComposeAuthSettingsRequest(const char* mac, const void* passwordDigest,
                                             const std::string& newPassword)
{
    std::vector<char> request(kAuthSettingsRequestSize, '\0');
    char* p = request.data();
    p[0] = static_cast<char>(AuthSetting);
    std::memcpy(p + 1, mac, kMacSize);
    std::memcpy(p + 7, passwordDigest, kMd5DigestSize);
    PutText(p + 23, kPasswordWidth, newPassword);
    return request;
}

std::string SettingsRequestLogDump(const std::vector<char>& request)
{
    // Byte ranges [begin, end) that carry secrets, by request type.
    size_t secretBegin = 0;
    size_t secretEnd = 0;
    if (!request.empty() && static_cast<uint8_t>(request[0]) == NetworkSetting) {
        secretBegin = 39;
        secretEnd = 39 + kMd5DigestSize;
    } else if (!request.empty() && static_cast<uint8_t>(request[0]) == AuthSetting) {
        secretBegin = 7;
        secretEnd = request.size();
    }
    std::string dump;
    for (size_t i = 0; i < request.size(); ++i) {
        if (i > 0) {
            dump += ' ';
        }
        dump +=
            i >= secretBegin && i < secretEnd ? "**" : utils::GetPrintedBufferInHex(&request[i], 1, 1, "");
    }
    return dump;
}

bool ExtractString(const char* field, size_t width, std::string& destination, const char* label,
                   bool wholeWidth)
{
    if (wholeWidth) {
        destination.assign(field, width);
        return true;
    }
    const void* nul = std::memchr(field, '\0', width);
    if (nul == nullptr) {
        VLOG(1) << "Failed to extract field " << label << ": no terminating null character";
        return false;
    }
    destination.assign(field, static_cast<const char*>(nul));
    return true;
}

bool ParseDiscoverResponse(const void* data, size_t size, DeviceNetworkParams& params)
{
    if (size < kDiscoverResponseMinSize) {
        VLOG(1) << "Insufficient buffer size: " << size << ", must be at least " << kDiscoverResponseMinSize
                << " bytes";
        return false;
    }
    const char* p = static_cast<const char*>(data);
    std::string mac;
    uint8_t connectionType = 0;
    if (!ExtractString(p + 0, 32, params.productName, "productName", false) ||
        !ExtractString(p + 32, 32, params.deviceName, "deviceName", false)) {
        return false;
    }
    ExtractNumber(p + 64, 4, params.ip);
    ExtractString(p + 68, kMacSize, mac, "mac", true);
    ExtractNumber(p + 74, 4, params.mask);
    ExtractNumber(p + 78, 4, params.gateway);
    ExtractNumber(p + 82, 1, connectionType);
    if (!ExtractString(p + 83, 16, params.firmWare, "firmWare", false) ||
        !ExtractString(p + 99, 32, params.serialNo, "serialNo", false)) {
        return false;
    }
    if (connectionType != DHCP && connectionType != STATIC) {
        VLOG(1) << "Unknown ConnectionType: " << static_cast<unsigned>(connectionType)
                << ", must be 0 (DHCP) or 1 (STATIC)";
        return false;
    }
    std::memcpy(params.mac, mac.data(), kMacSize);
    params.connectionType = static_cast<ConnectionType>(connectionType);
    return true;
}

bool ParseNetworkAuthSettingsResponse(const void* data, size_t size, RequestType expectedType,
                                      const char* expectedMac, ResponseCode& code)
{
    if (size < kSettingsResponseMinSize) {
        VLOG(1) << "Insufficient buffer size: " << size << ", must be at least " << kSettingsResponseMinSize
                << " bytes";
        return false;
    }
    const char* p = static_cast<const char*>(data);
    if (static_cast<uint8_t>(p[0]) != expectedType) {
        return false;
    }
    std::string mac;
    uint8_t receivedCode = 0;
    ExtractString(p + 1, kMacSize, mac, "mac", true);
    ExtractNumber(p + 7, 1, receivedCode);
    if (std::memcmp(mac.data(), expectedMac, kMacSize) != 0) {
        VLOG(1) << "Received MAC address " << MacText(mac.data()) << " is not equal to expected "
                << MacText(expectedMac);
        return false;
    }
    code = static_cast<ResponseCode>(receivedCode);
    return true;
}
