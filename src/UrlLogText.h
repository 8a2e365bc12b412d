#pragma once

#include <string>

// The form of a request URL that log records show: the value of every
// "password=" parameter of the query is written as "***". The request itself
// is sent unchanged.
std::string UrlLogText(const std::string& url);
