#pragma once

#include <map>
#include <string>

// Credentials for RTSP requests, and the state of a Basic or Digest (RFC 2617,
// MD5) challenge once the server has sent one. Copyable: the client keeps a copy
// of the credentials given with a request for its later requests.
class Authenticator {
public:
    Authenticator() = default;
    Authenticator(const char* username, const char* password, bool passwordIsMD5 = false);

    const std::string& username() const { return username_; }
    const std::string& password() const { return password_; }
    const std::string& realm() const { return realm_; }
    const std::string& nonce() const { return nonce_; }
    bool HasChallenge() const { return scheme_ != Scheme::None; }

    // Takes the challenge of one WWW-Authenticate header value. Returns false for
    // a scheme other than Basic or Digest (MD5 only) or a Digest challenge
    // without realm or nonce.
    bool SetChallenge(const std::string& headerValue);

    // The Authorization header value for a request, or empty before a challenge.
    std::string AuthorizationHeader(const std::string& method, const std::string& uri);

    // Digest response per RFC 2617: with a qop the nc and cnonce enter the hash.
    std::string ComputeDigestResponse(const std::string& method, const std::string& uri,
                                      const std::string& nc = std::string(),
                                      const std::string& cnonce = std::string()) const;

    // Splits `key=value, key="quoted value"` lists; keys are lower-cased.
    static std::map<std::string, std::string> ParseParameters(const std::string& text);

private:
    enum class Scheme { None, Basic, Digest };

    std::string username_;
    std::string password_;
    bool passwordIsMD5_ = false; // password_ already holds MD5(user:realm:password)
    Scheme scheme_ = Scheme::None;
    std::string realm_;
    std::string nonce_;
    std::string opaque_;
    std::string qop_; // "auth" when the server offered it, else empty
    unsigned nonceCount_ = 0;
};

// Lower-case hex MD5 digest of a text.
std::string Md5Hex(const std::string& text);
