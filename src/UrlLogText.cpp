#include "UrlLogText.h"

namespace {

const std::string kPasswordKey = "password=";
const char kHidden[] = "***";

} // namespace

std::string UrlLogText(const std::string& url)
{
    const size_t query = url.find('?');
    if (query == std::string::npos) {
        return url;
    }
    // The fragment is not sent; a "password=" after "#" is no parameter.
    const size_t fragment = url.find('#', query);
    const size_t queryEnd = fragment == std::string::npos ? url.size() : fragment;
    std::string text = url.substr(0, query + 1);
    size_t begin = query + 1;
    while (begin <= queryEnd) {
        size_t end = url.find('&', begin);
        if (end == std::string::npos || end > queryEnd) {
            end = queryEnd;
        }
        const std::string parameter = url.substr(begin, end - begin);
        if (parameter.compare(0, kPasswordKey.size(), kPasswordKey) == 0) {
            text += kPasswordKey + kHidden;
        } else {
            text += parameter;
        }
        if (end < queryEnd) {
            text += '&';
        }
        begin = end + 1;
    }
    text += url.substr(queryEnd);
    return text;
}

namespace {

const char kSecretName[] = "password";
constexpr size_t kSecretNameSize = sizeof kSecretName - 1;

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

bool IsQuote(char c)
{
    return c == '"' || c == '\'';
}

bool IsLineEnd(char c)
{
    return c == '\r' || c == '\n';
}

bool StartsWithSecretName(const std::string& text, size_t at)
{
    if (text.size() - at < kSecretNameSize) {
        return false;
    }
    for (size_t i = 0; i < kSecretNameSize; ++i) {
        const char c = text[at + i];
        if ((c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c) != kSecretName[i]) {
            return false;
        }
    }
    return true;
}

// End of the quoted text that starts at `open` (the quote), honouring
// backslash escapes; the text's end when the quote is never closed.
size_t QuotedEnd(const std::string& text, size_t open)
{
    const char quote = text[open];
    size_t i = open + 1;
    while (i < text.size() && text[i] != quote) {
        i += text[i] == '\\' ? 2 : 1;
    }
    return i < text.size() ? i + 1 : text.size();
}

} // namespace

std::string SecretFreeText(const std::string& text)
{
    std::string result;
    result.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        if (!StartsWithSecretName(text, i)) {
            result += text[i++];
            continue;
        }
        // The name, maybe closing a quoted key, blanks, the separator, blanks.
        size_t j = i + kSecretNameSize;
        if (j < text.size() && IsQuote(text[j])) {
            ++j;
        }
        while (j < text.size() && IsBlank(text[j])) {
            ++j;
        }
        const char separator = j < text.size() ? text[j] : '\0';
        size_t value = j + 1;
        while (value < text.size() && IsBlank(text[value])) {
            ++value;
        }
        if (separator == '=' || separator == ':') {
            if (value < text.size() && IsQuote(text[value])) {
                result += text.substr(i, value - i) + text[value] + kHidden + text[value];
                i = QuotedEnd(text, value);
                continue;
            }
            // An unquoted value after ":" is prose ("password: invalid"), not
            // a field of the configuration's text form.
            if (separator == '=') {
                result += text.substr(i, value - i) + kHidden;
                i = value;
                while (i < text.size() && text[i] != '&' && !IsQuote(text[i]) && !IsLineEnd(text[i])) {
                    ++i;
                }
                continue;
            }
        }
        result += text.substr(i, kSecretNameSize);
        i += kSecretNameSize;
    }
    return result;
}
