#ifndef BASE_HASH_SUPER_FAST_HASH_H_
#define BASE_HASH_SUPER_FAST_HASH_H_

#include <cstdint>

namespace base {

// Paul Hsieh's SuperFastHash, seeded with the length: a quick table hash,
// not a checksum. A null `data` or a `length` below 1 gives 0.
uint32_t SuperFastHash(const char* data, int32_t length);

}  // namespace base

#endif  // BASE_HASH_SUPER_FAST_HASH_H_
