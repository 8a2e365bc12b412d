#include "Md5Hash.h"

#include <openssl/evp.h>

namespace utils {

std::unique_ptr<unsigned char[]> GetMD5Hash(const void* data, size_t size)
{
    // An empty QByteArray may hand over a null pointer; the digest of empty
    // input must still be computed from a valid address.
    static const unsigned char kEmpty = 0;
    const void* input = (data != nullptr) ? data : &kEmpty;

    auto digest = std::make_unique<unsigned char[]>(kMd5HashSize);
    unsigned int length = 0;
    if (EVP_Digest(input, size, digest.get(), &length, EVP_md5(), nullptr) != 1 || length != kMd5HashSize) {
        return nullptr;
    }
    return digest;
}

} // namespace utils
