#pragma once

#include <cstddef>
#include <memory>

namespace utils {

constexpr size_t kMd5HashSize = 16;

// One-shot MD5 digest of `size` bytes at `data` (empty input gives the digest
// of empty input). Returns the 16 digest bytes, or null when the crypto
// library refuses the algorithm (for example under a FIPS-only policy).
std::unique_ptr<unsigned char[]> GetMD5Hash(const void* data, size_t size);

} // namespace utils
