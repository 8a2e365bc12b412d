#include "StringUtils.h"

#include <algorithm>

namespace utils {

std::string GetPrintedBufferInHex(const void* data, size_t size, size_t maxCount,
                                  const std::string& separator)
{
    static const char kDigits[] = "0123456789ABCDEF";
    const size_t count = std::min(size, maxCount);
    const auto* bytes = static_cast<const unsigned char*>(data);
    std::string text;
    text.reserve(count * (2 + separator.size()));
    for (size_t i = 0; i < count; ++i) {
        if (i > 0) {
            text += separator;
        }
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 0x0F];
    }
    return text;
}

} // namespace utils
