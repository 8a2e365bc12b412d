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
