// Every pair ParseHttpRequest keeps is two non-empty parts of one line, with
// no separator left in them.
#include "ParseHttpRequest.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    const auto values = ParseHttpRequest(text);
    for (const auto& [key, value] : values) {
        if (key.empty() || value.empty() || key.find_first_of("=\r\n") != std::string::npos ||
            value.find_first_of("=\r\n") != std::string::npos || text.find(key) == std::string::npos ||
            text.find(value) == std::string::npos) {
            std::abort();
        }
    }
    std::string host;
    std::string login;
    QString error;
    const bool found = FindSourceHostAndLogin(values, host, login, error);
    const bool expected = values.count("host") == 1 && values.count("login") == 1;
    if (found != expected || found != error.isEmpty()) {
        std::abort();
    }
    return 0;
}
