#pragma once

#include <deque>
#include <mutex>
#include <string>

// HTTP authentication for the simulated web interface (RFC 2617): issues the
// WWW-Authenticate challenge and checks an Authorization header against one
// user and password. Digest (MD5, qop "auth") by default, Basic on request.
// Thread-safe: the issued nonces are kept under mutex_.
class HttpAuthenticator final {
public:
    enum class Scheme { Digest, Basic };

    HttpAuthenticator(std::string user, std::string password, Scheme scheme);

    // Value of the WWW-Authenticate header of a 401 answer; a Digest
    // challenge carries a fresh nonce.
    std::string Challenge();

    // True when the Authorization header carries this user's credentials for
    // this request (method and request target, as sent on the request line).
    bool Verify(const std::string& method, const std::string& target, const std::string& authorization);

    static std::string Md5Hex(const std::string& text);

private:
    bool VerifyBasic(const std::string& credentials) const;
    bool VerifyDigest(const std::string& method, const std::string& target, const std::string& params);

    static constexpr size_t kMaxNonces = 256; // oldest nonces are forgotten first
    static constexpr const char* kRealm = "QEL device";

    const std::string user_;
    const std::string password_;
    const Scheme scheme_;
    std::mutex mutex_; // guards nonces_
    std::deque<std::string> nonces_;
};
