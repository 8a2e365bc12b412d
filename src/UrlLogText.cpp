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

const std::string kFieldKey = "password:";

bool IsValueEnd(char c)
{
    return c == '&' || c == '#' || c == ' ' || c == '\t' || c == '\r' || c == '\n';
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
        if (text.compare(i, kPasswordKey.size(), kPasswordKey) == 0) {
            result += kPasswordKey + kHidden;
            i += kPasswordKey.size();
            while (i < text.size() && !IsValueEnd(text[i])) {
                ++i;
            }
            continue;
        }
        if (text.compare(i, kFieldKey.size(), kFieldKey) == 0) {
            result += kFieldKey;
            i += kFieldKey.size();
            while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) {
                result += text[i++];
            }
            if (i < text.size() && (text[i] == '"' || text[i] == '\'')) {
                result += std::string(1, text[i]) + kHidden + text[i];
                i = QuotedEnd(text, i);
            }
            continue;
        }
        result += text[i++];
    }
    return result;
}
