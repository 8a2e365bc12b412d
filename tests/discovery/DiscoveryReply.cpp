#include "DiscoveryReply.h"

#include <cstring>
#include <vector>

namespace {

void Put(std::vector<char>& out, size_t offset, const std::string& text)
{
    std::memcpy(out.data() + offset, text.data(), text.size());
}

} // namespace

QByteArray DiscoveryReply::Bytes() const
{
    std::vector<char> out(131, '\0');
    Put(out, 0, productName);
    Put(out, 32, deviceName);
    std::memcpy(out.data() + 64, ip, 4);
    std::memcpy(out.data() + 68, mac, 6);
    std::memcpy(out.data() + 74, mask, 4);
    std::memcpy(out.data() + 78, gateway, 4);
    out[82] = static_cast<char>(connectionType);
    Put(out, 83, firmware);
    Put(out, 99, serialNo);
    return QByteArray(out.data(), static_cast<int>(out.size()));
}
