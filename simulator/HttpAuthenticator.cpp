#include "HttpAuthenticator.h"

#include <openssl/evp.h>
#include <openssl/rand.h>
#include <algorithm>
#include <array>
#include <cctype>
#include <map>
#include <utility>

namespace {

constexpr size_t kMaxHeaderSize = 4096;

std::string ToHex(const unsigned char* data, size_t size)
{
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(size * 2);
    for (size_t i = 0; i < size; ++i) {
        hex += kDigits[data[i] >> 4];
        hex += kDigits[data[i] & 0x0f];
    }
    return hex;
}

// Decodes standard base64; false on any character outside the alphabet.
bool DecodeBase64(const std::string& text, std::string& out)
{
    static const std::string kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    out.clear();
    unsigned int buffer = 0;
    int bits = 0;
    for (const char c : text) {
        if (c == '=') {
            break;
        }
        const size_t value = kAlphabet.find(c);
        if (value == std::string::npos) {
            return false;
        }
        buffer = (buffer << 6) | static_cast<unsigned int>(value);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += static_cast<char>((buffer >> bits) & 0xff);
        }
    }
    return true;
}

// %XX escapes decoded, everything else kept (a '+' too); a '%' that starts
// no escape stays as it is.
std::string PercentDecoded(const std::string& text)
{
    const auto hex = [](char c) -> int {
        if (c >= '0' && c <= '9') {
            return c - '0';
        }
        if (c >= 'a' && c <= 'f') {
            return c - 'a' + 10;
        }
        return c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
    };
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && hex(text[i + 1]) >= 0 && hex(text[i + 2]) >= 0) {
            out += static_cast<char>(hex(text[i + 1]) * 16 + hex(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

// Splits the auth-params of a Digest header: name=value or name="value"
// (with backslash escapes), separated by commas.
bool ParseAuthParams(const std::string& text, std::map<std::string, std::string>& params)
{
    size_t pos = 0;
    const size_t size = text.size();
    while (pos < size) {
        while (pos < size && (text[pos] == ' ' || text[pos] == ',' || text[pos] == '\t')) {
            ++pos;
        }
        if (pos >= size) {
            break;
        }
        const size_t equals = text.find('=', pos);
        if (equals == std::string::npos) {
            return false;
        }
        std::string name = text.substr(pos, equals - pos);
        while (!name.empty() && name.back() == ' ') {
            name.pop_back();
        }
        std::transform(name.begin(), name.end(), name.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        pos = equals + 1;
        std::string value;
        if (pos < size && text[pos] == '"') {
            ++pos;
            bool closed = false;
            while (pos < size) {
                const char c = text[pos++];
                if (c == '\\' && pos < size) {
                    value += text[pos++];
                } else if (c == '"') {
                    closed = true;
                    break;
                } else {
                    value += c;
                }
            }
            if (!closed) {
                return false;
            }
        } else {
            const size_t comma = text.find(',', pos);
            value = text.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
            while (!value.empty() && value.back() == ' ') {
                value.pop_back();
            }
            pos = comma == std::string::npos ? size : comma;
        }
        params[name] = value;
    }
    return true;
}

bool StartsWithScheme(const std::string& header, const std::string& scheme, std::string& rest)
{
    if (header.size() <= scheme.size() + 1) {
        return false;
    }
    for (size_t i = 0; i < scheme.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(header[i])) !=
            std::tolower(static_cast<unsigned char>(scheme[i]))) {
            return false;
        }
    }
    if (header[scheme.size()] != ' ') {
        return false;
    }
    rest = header.substr(scheme.size() + 1);
    return true;
}

} // namespace

HttpAuthenticator::HttpAuthenticator(std::string user, std::string password, Scheme scheme)
    : user_(std::move(user)), password_(std::move(password)), scheme_(scheme)
{
}

std::string HttpAuthenticator::Md5Hex(const std::string& text)
{
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int size = 0;
    EVP_Digest(text.data(), text.size(), digest.data(), &size, EVP_md5(), nullptr);
    return ToHex(digest.data(), size);
}

std::string HttpAuthenticator::Challenge()
{
    if (scheme_ == Scheme::Basic) {
        return std::string("Basic realm=\"") + kRealm + "\"";
    }
    std::array<unsigned char, 16> random{};
    RAND_bytes(random.data(), static_cast<int>(random.size()));
    const std::string nonce = ToHex(random.data(), random.size());
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        nonces_.push_back(nonce);
        if (nonces_.size() > kMaxNonces) {
            nonces_.pop_front();
        }
    }
    return std::string("Digest realm=\"") + kRealm + "\", qop=\"auth\", nonce=\"" + nonce + "\", opaque=\"" +
           Md5Hex(kRealm) + "\", algorithm=MD5";
}

bool HttpAuthenticator::Verify(const std::string& method, const std::string& target,
                               const std::string& authorization)
{
    if (authorization.size() > kMaxHeaderSize) {
        return false;
    }
    std::string rest;
    if (StartsWithScheme(authorization, "Basic", rest)) {
        return scheme_ == Scheme::Basic && VerifyBasic(rest);
    }
    if (StartsWithScheme(authorization, "Digest", rest)) {
        return scheme_ == Scheme::Digest && VerifyDigest(method, target, rest);
    }
    return false;
}

bool HttpAuthenticator::VerifyBasic(const std::string& credentials) const
{
    std::string decoded;
    return DecodeBase64(credentials, decoded) && decoded == user_ + ":" + password_;
}

bool HttpAuthenticator::VerifyDigest(const std::string& method, const std::string& target,
                                     const std::string& text)
{
    std::map<std::string, std::string> params;
    if (!ParseAuthParams(text, params)) {
        return false;
    }
    const auto get = [&params](const char* name) {
        const auto it = params.find(name);
        return it == params.end() ? std::string() : it->second;
    };
    const std::string nonce = get("nonce");
    // The web server hands over header values with their %XX escapes
    // decoded: a uri that matches the request target so is the one sent.
    std::string uri = get("uri");
    if (uri != target && uri == PercentDecoded(target)) {
        uri = target;
    }
    if (get("username") != user_ || get("realm") != kRealm || uri != target || nonce.empty()) {
        return false;
    }
    const std::string algorithm = get("algorithm");
    if (!algorithm.empty() && algorithm != "MD5") {
        return false;
    }
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (std::find(nonces_.begin(), nonces_.end(), nonce) == nonces_.end()) {
            return false;
        }
    }
    const std::string ha1 = Md5Hex(user_ + ":" + kRealm + ":" + password_);
    const std::string ha2 = Md5Hex(method + ":" + uri);
    const std::string qop = get("qop");
    std::string expected;
    if (qop.empty()) {
        expected = Md5Hex(ha1 + ":" + nonce + ":" + ha2);
    } else if (qop == "auth") {
        expected = Md5Hex(ha1 + ":" + nonce + ":" + get("nc") + ":" + get("cnonce") + ":" + qop + ":" + ha2);
    } else {
        return false;
    }
    return get("response") == expected;
}
