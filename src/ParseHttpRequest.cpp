#include "ParseHttpRequest.h"

#include <QCoreApplication>
#include <boost/tokenizer.hpp>

std::map<std::string, std::string> ParseHttpRequest(const std::string& text)
{
    using Tokenizer = boost::tokenizer<boost::char_separator<char>>;
    std::map<std::string, std::string> values;
    const boost::char_separator<char> lineSeparators("\r\n");
    const boost::char_separator<char> pairSeparator("=");
    const Tokenizer lines(text, lineSeparators);
    for (const std::string& line : lines) {
        const Tokenizer parts(line, pairSeparator);
        auto it = parts.begin();
        if (it == parts.end()) {
            continue;
        }
        const std::string key = *it;
        if (++it == parts.end()) {
            continue;
        }
        const std::string value = *it;
        if (++it != parts.end()) {
            continue;
        }
        values.insert({key, value});
    }
    return values;
}

bool FindSourceHostAndLogin(const std::map<std::string, std::string>& values, std::string& host,
                            std::string& login, QString& errorMessage)
{
    for (const char* key : {"host", "login"}) {
        if (values.find(key) == values.end()) {
            errorMessage = QCoreApplication::translate("ParseHttpRequest",
                                                       "The device's video source reply has no \"%1\" value")
                               .arg(QString::fromLatin1(key));
            return false;
        }
    }
    host = values.at("host");
    login = values.at("login");
    return true;
}
