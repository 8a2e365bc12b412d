#pragma once

#include <string>

// The form of a request URL that log records show: the value of every
// "password=" parameter of the query is written as "***". The request itself
// is sent unchanged.
std::string UrlLogText(const std::string& url);

// Any text that may quote a request or a device's configuration (an error
// text, a reply body) with its secrets masked, whatever the case of the name
// and the blanks around the separator: the value of every "password=" (up to
// the next "&", quote or line end) and every quoted value of a "password="
// or "password:" field is written as "***".
std::string SecretFreeText(const std::string& text);
