#include "TextUtils.h"

#include <cstring>

char* strDup(const char* text)
{
    if (text == nullptr) {
        return nullptr;
    }
    const size_t length = std::strlen(text);
    char* copy = new char[length + 1];
    std::memcpy(copy, text, length + 1);
    return copy;
}

char* strDup(const std::string& text)
{
    char* copy = new char[text.size() + 1];
    std::memcpy(copy, text.c_str(), text.size() + 1);
    return copy;
}

namespace {

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int DecodeChar(unsigned char c)
{
    if (c >= 'A' && c <= 'Z') {
        return c - 'A';
    }
    if (c >= 'a' && c <= 'z') {
        return c - 'a' + 26;
    }
    if (c >= '0' && c <= '9') {
        return c - '0' + 52;
    }
    if (c == '+' || c == '-') {
        return 62;
    }
    if (c == '/' || c == '_') {
        return 63;
    }
    return -1;
}

char Lower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

} // namespace

std::vector<unsigned char> base64Decode(const char* in, bool trimTrailingZeros)
{
    std::vector<unsigned char> out;
    if (in == nullptr) {
        return out;
    }
    unsigned accumulator = 0;
    int bits = 0;
    for (const char* p = in; *p != '\0' && *p != '='; ++p) {
        const int value = DecodeChar(static_cast<unsigned char>(*p));
        if (value < 0) {
            continue;
        }
        accumulator = ((accumulator << 6) | static_cast<unsigned>(value)) & 0xFFFFFF;
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<unsigned char>((accumulator >> bits) & 0xFF));
        }
    }
    if (trimTrailingZeros) {
        while (!out.empty() && out.back() == 0) {
            out.pop_back();
        }
    }
    return out;
}

std::string base64Encode(const void* data, size_t size)
{
    const auto* bytes = static_cast<const unsigned char*>(data);
    std::string out;
    out.reserve((size + 2) / 3 * 4);
    for (size_t i = 0; i < size; i += 3) {
        const unsigned b0 = bytes[i];
        const unsigned b1 = i + 1 < size ? bytes[i + 1] : 0;
        const unsigned b2 = i + 2 < size ? bytes[i + 2] : 0;
        const unsigned triple = (b0 << 16) | (b1 << 8) | b2;
        out += kAlphabet[(triple >> 18) & 0x3F];
        out += kAlphabet[(triple >> 12) & 0x3F];
        out += i + 1 < size ? kAlphabet[(triple >> 6) & 0x3F] : '=';
        out += i + 2 < size ? kAlphabet[triple & 0x3F] : '=';
    }
    return out;
}

bool EqualsNoCase(const std::string& a, const std::string& b)
{
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (Lower(a[i]) != Lower(b[i])) {
            return false;
        }
    }
    return true;
}

bool StartsWithNoCase(const std::string& text, const std::string& prefix)
{
    return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

std::string Trim(const std::string& text)
{
    const char* kSpace = " \t\r\n";
    const size_t first = text.find_first_not_of(kSpace);
    if (first == std::string::npos) {
        return std::string();
    }
    const size_t last = text.find_last_not_of(kSpace);
    return text.substr(first, last - first + 1);
}

bool ParseDecimal(const std::string& text, unsigned& value, unsigned maxValue)
{
    if (text.empty() || text.size() > 9) {
        return false;
    }
    unsigned result = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        result = result * 10 + static_cast<unsigned>(c - '0');
    }
    if (result > maxValue) {
        return false;
    }
    value = result;
    return true;
}
