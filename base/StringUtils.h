#pragma once

#include <cstddef>
#include <string>

namespace utils {

// Hex text of the first min(size, maxCount) bytes: two upper-case digits per
// byte, `separator` between bytes and nowhere else.
std::string GetPrintedBufferInHex(const void* data, size_t size, size_t maxCount,
                                  const std::string& separator);

} // namespace utils
