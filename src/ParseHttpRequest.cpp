#include "ParseHttpRequest.h"

#include <QCoreApplication>
#include <boost/tokenizer.hpp>

std::map<std::string, std::string> ParseHttpRequest(const std::string& text)
{
    using Tokenizer = boost::tokenizer<boost::char_separator<char>>;
    std::map<std::string, std::string> values;
    const boost::char_separator<char> lineSeparators("\r\n");
    const Tokenizer lines(text, lineSeparators);
    for (const std::string& line : lines) {
        // Split at the first "=" only: a value may hold "=" itself (base64
        // padding) or be empty. A line without "=" or without a key says
        // nothing.
        const size_t equals = line.find('=');
        if (equals == std::string::npos || equals == 0) {
            continue;
        }
        values.insert({line.substr(0, equals), line.substr(equals + 1)});
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
