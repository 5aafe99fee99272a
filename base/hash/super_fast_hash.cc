#include "base/hash/super_fast_hash.h"

namespace base {
namespace {

// The published function reads 16-bit words little-endian, whatever the host.
uint32_t Load16(const char* data) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(data);
  return uint32_t{bytes[0]} | uint32_t{bytes[1]} << 8;
}

// The tail bytes are sign-extended, as the published function's signed char
// cast does; changing this would change every stored hash.
uint32_t SignExtended(char byte) {
  return static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(byte)));
}

}  // namespace

uint32_t SuperFastHash(const char* data, int32_t length) {
  if (data == nullptr || length < 1)
    return 0;
  uint32_t hash = static_cast<uint32_t>(length);
  const int32_t remainder = length & 3;

  for (int32_t blocks = length >> 2; blocks > 0; --blocks, data += 4) {
    hash += Load16(data);
    const uint32_t mixed = (Load16(data + 2) << 11) ^ hash;
    hash = (hash << 16) ^ mixed;
    hash += hash >> 11;
  }

  switch (remainder) {
    case 3:
      hash += Load16(data);
      hash ^= hash << 16;
      hash ^= SignExtended(data[2]) << 18;
      hash += hash >> 11;
      break;
    case 2:
      hash += Load16(data);
      hash ^= hash << 11;
      hash += hash >> 17;
      break;
    case 1:
      hash += SignExtended(data[0]);
      hash ^= hash << 10;
      hash += hash >> 1;
      break;
  }

  // Final avalanche.
  hash ^= hash << 3;
  hash += hash >> 5;
  hash ^= hash << 4;
  hash += hash >> 17;
  hash ^= hash << 25;
  hash += hash >> 6;
  return hash;
}

}  // namespace base
