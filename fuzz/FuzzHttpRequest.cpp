// Every pair ParseHttpRequest keeps is one line split at its first "=": a
// non-empty key without "=", a value without line ends, and the two joined by
// "=" stand in the text.
#include "ParseHttpRequest.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    const auto values = ParseHttpRequest(text);
    for (const auto& [key, value] : values) {
        if (key.empty() || key.find_first_of("=\r\n") != std::string::npos ||
            value.find_first_of("\r\n") != std::string::npos ||
            text.find(key + "=" + value) == std::string::npos) {
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
