#pragma once

#include <QString>
#include <map>
#include <string>

// Splits a key=value answer of the device (one pair per line, CR or LF ends a
// line) into a map. A line is split at its first "=": the key before it must
// not be empty, the value after it may be empty or hold further "=". Lines
// without "=" are skipped; nothing is trimmed and the first occurrence of a
// key wins.
// Never fails: text without a usable line gives an empty map.
std::map<std::string, std::string> ParseHttpRequest(const std::string& text);

// Looks up the video source's "host" and "login" in a parsed answer. Returns
// false, with a user text naming the missing key in errorMessage, when either
// is absent; host and login are then left unchanged.
bool FindSourceHostAndLogin(const std::map<std::string, std::string>& values, std::string& host,
                            std::string& login, QString& errorMessage);
