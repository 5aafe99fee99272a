#ifndef BASE_HASH_SHA1_H_
#define BASE_HASH_SHA1_H_

#include <cstddef>
#include <cstdint>

namespace base {

// SHA-1 (FIPS 180-1), for identifiers only; checksums use SHA-256.

constexpr size_t kSha1Length = 20;

// Writes the digest of `length` bytes at `data` (big-endian result words).
void Sha1HashBytes(const uint8_t* data, size_t length,
                   uint8_t digest[kSha1Length]);

}  // namespace base

#endif  // BASE_HASH_SHA1_H_
