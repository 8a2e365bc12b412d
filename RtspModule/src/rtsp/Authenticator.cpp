#include "Authenticator.h"

#include "TextUtils.h"

#include <openssl/evp.h>

#include <cstdio>
#include <random>

std::string Md5Hex(const std::string& text)
{
    unsigned char digest[EVP_MAX_MD_SIZE] = {};
    unsigned int length = 0;
    EVP_Digest(text.data(), text.size(), digest, &length, EVP_md5(), nullptr);
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned i = 0; i < length; ++i) {
        hex += kDigits[digest[i] >> 4];
        hex += kDigits[digest[i] & 0x0F];
    }
    return hex;
}

Authenticator::Authenticator(const char* username, const char* password, bool passwordIsMD5)
    : username_(username != nullptr ? username : ""), password_(password != nullptr ? password : ""),
      passwordIsMD5_(passwordIsMD5)
{
}

std::map<std::string, std::string> Authenticator::ParseParameters(const std::string& text)
{
    std::map<std::string, std::string> result;
    size_t pos = 0;
    const size_t n = text.size();
    while (pos < n) {
        while (pos < n && (text[pos] == ' ' || text[pos] == '\t' || text[pos] == ',')) {
            ++pos;
        }
        const size_t keyStart = pos;
        while (pos < n && text[pos] != '=' && text[pos] != ',') {
            ++pos;
        }
        std::string key = Trim(text.substr(keyStart, pos - keyStart));
        for (char& c : key) {
            if (c >= 'A' && c <= 'Z') {
                c = static_cast<char>(c - 'A' + 'a');
            }
        }
        std::string value;
        if (pos < n && text[pos] == '=') {
            ++pos;
            while (pos < n && (text[pos] == ' ' || text[pos] == '\t')) {
                ++pos;
            }
            if (pos < n && text[pos] == '"') {
                ++pos;
                while (pos < n && text[pos] != '"') {
                    if (text[pos] == '\\' && pos + 1 < n) {
                        ++pos;
                    }
                    value += text[pos++];
                }
                if (pos < n) {
                    ++pos; // closing quote
                }
            } else {
                const size_t valueStart = pos;
                while (pos < n && text[pos] != ',') {
                    ++pos;
                }
                value = Trim(text.substr(valueStart, pos - valueStart));
            }
        }
        if (!key.empty()) {
            result[key] = value;
        }
    }
    return result;
}

bool Authenticator::SetChallenge(const std::string& headerValue)
{
    const std::string value = Trim(headerValue);
    const size_t space = value.find_first_of(" \t");
    const std::string scheme = value.substr(0, space);
    const std::string rest = space == std::string::npos ? std::string() : value.substr(space + 1);
    const auto params = ParseParameters(rest);
    const auto get = [&params](const char* key) {
        const auto it = params.find(key);
        return it == params.end() ? std::string() : it->second;
    };

    if (EqualsNoCase(scheme, "Basic")) {
        scheme_ = Scheme::Basic;
        realm_ = get("realm");
        return true;
    }
    if (!EqualsNoCase(scheme, "Digest")) {
        return false;
    }
    const std::string algorithm = get("algorithm");
    if (!algorithm.empty() && !EqualsNoCase(algorithm, "MD5")) {
        return false;
    }
    if (params.count("realm") == 0 || get("nonce").empty()) {
        return false;
    }
    realm_ = get("realm");
    nonce_ = get("nonce");
    opaque_ = get("opaque");
    qop_.clear();
    // qop is a list; only "auth" is supported (no body integrity).
    const std::string qopList = get("qop");
    size_t start = 0;
    while (start <= qopList.size()) {
        const size_t comma = qopList.find(',', start);
        const std::string item =
            Trim(qopList.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        if (EqualsNoCase(item, "auth")) {
            qop_ = "auth";
        }
        if (comma == std::string::npos) {
            break;
        }
        start = comma + 1;
    }
    nonceCount_ = 0;
    scheme_ = Scheme::Digest;
    return true;
}

std::string Authenticator::ComputeDigestResponse(const std::string& method, const std::string& uri,
                                                 const std::string& nc, const std::string& cnonce) const
{
    const std::string ha1 = passwordIsMD5_ ? password_ : Md5Hex(username_ + ":" + realm_ + ":" + password_);
    const std::string ha2 = Md5Hex(method + ":" + uri);
    if (qop_.empty()) {
        return Md5Hex(ha1 + ":" + nonce_ + ":" + ha2);
    }
    return Md5Hex(ha1 + ":" + nonce_ + ":" + nc + ":" + cnonce + ":" + qop_ + ":" + ha2);
}

std::string Authenticator::AuthorizationHeader(const std::string& method, const std::string& uri)
{
    if (scheme_ == Scheme::Basic) {
        const std::string pair = username_ + ":" + password_;
        return "Basic " + base64Encode(pair.data(), pair.size());
    }
    if (scheme_ != Scheme::Digest) {
        return std::string();
    }
    std::string header = "Digest username=\"" + username_ + "\", realm=\"" + realm_ + "\", nonce=\"" +
                         nonce_ + "\", uri=\"" + uri + "\", response=\"";
    if (qop_.empty()) {
        header += ComputeDigestResponse(method, uri) + "\"";
    } else {
        char nc[9] = {};
        std::snprintf(nc, sizeof(nc), "%08x", ++nonceCount_);
        static thread_local std::mt19937 generator{std::random_device{}()};
        char cnonce[17] = {};
        std::snprintf(cnonce, sizeof(cnonce), "%08x%08x", static_cast<unsigned>(generator()),
                      static_cast<unsigned>(generator()));
        header += ComputeDigestResponse(method, uri, nc, cnonce) + "\", qop=" + qop_ + ", nc=" + nc +
                  ", cnonce=\"" + cnonce + "\"";
    }
    if (!opaque_.empty()) {
        header += ", opaque=\"" + opaque_ + "\"";
    }
    return header;
}
