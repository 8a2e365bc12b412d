#pragma once

#include <string>
#include <vector>

// Heap copy of a C string, released with delete[]; null stays null.
char* strDup(const char* text);
char* strDup(const std::string& text);

// Base64 (RFC 4648) decoding. Characters outside the alphabet are skipped, '='
// ends the input. With `trimTrailingZeros` trailing zero bytes are dropped.
std::vector<unsigned char> base64Decode(const char* in, bool trimTrailingZeros = true);

// Base64 encoding with padding.
std::string base64Encode(const void* data, size_t size);

// ASCII case-insensitive equality and prefix test.
bool EqualsNoCase(const std::string& a, const std::string& b);
bool StartsWithNoCase(const std::string& text, const std::string& prefix);
std::string Trim(const std::string& text);

// Parses a decimal number of 1 to 9 digits filling the whole text, no sign or
// space; fails above `maxValue`.
bool ParseDecimal(const std::string& text, unsigned& value, unsigned maxValue = 999999999);
