#ifndef BASE_HASH_MD5_H_
#define BASE_HASH_MD5_H_

#include <cstddef>
#include <cstdint>

#include "base/strings/string_slice.h"

namespace base {

// MD5 (RFC 1321). Kept for naming things, never for security.

constexpr size_t kMd5DigestSize = 16;

struct Md5Context {
  uint32_t state[4];
  uint32_t bit_count[2];  // low word, then high word
  uint8_t buffer[64];
};

// Sets the standard initial state and an empty message.
void Md5Init(Md5Context* context);

// Adds bytes to the message; may be called any number of times.
void Md5Update(Md5Context* context, StringSlice data);

// Pads the message and writes its digest. The context must be initialised
// again before it is reused.
void Md5Final(uint8_t digest[kMd5DigestSize], Md5Context* context);

}  // namespace base

#endif  // BASE_HASH_MD5_H_
