#include "base/hash/sha1.h"

#include <bit>
#include <cstring>

namespace base {
namespace {

constexpr size_t kBlockSize = 64;

uint32_t LoadBigEndian32(const uint8_t* bytes) {
  return uint32_t{bytes[0]} << 24 | uint32_t{bytes[1]} << 16 |
         uint32_t{bytes[2]} << 8 | uint32_t{bytes[3]};
}

void StoreBigEndian32(uint32_t value, uint8_t* bytes) {
  for (int i = 0; i < 4; ++i)
    bytes[i] = static_cast<uint8_t>(value >> (24 - 8 * i));
}

// The four 20-step stages share everything but their function and constant.
template <int Stage>
inline uint32_t StageFunction(uint32_t b, uint32_t c, uint32_t d) {
  if constexpr (Stage == 0)
    return d ^ (b & (c ^ d));
  else if constexpr (Stage == 2)
    return (b & c) | (d & (b | c));
  else
    return b ^ c ^ d;
}

constexpr uint32_t kStageConstants[4] = {0x5a827999, 0x6ed9eba1, 0x8f1bbcdc,
                                         0xca62c1d6};

template <int Stage>
inline void RunStage(uint32_t (&v)[5], uint32_t (&schedule)[16], int first) {
  // Only 16 schedule words are live at a time, kept in a ring.
#pragma GCC unroll 20
  for (int t = first; t < first + 20; ++t) {
    uint32_t word;
    if (t < 16) {
      word = schedule[t];
    } else {
      word = std::rotl(schedule[(t - 3) & 15] ^ schedule[(t - 8) & 15] ^
                           schedule[(t - 14) & 15] ^ schedule[t & 15],
                       1);
      schedule[t & 15] = word;
    }
    const uint32_t temp = std::rotl(v[0], 5) +
                          StageFunction<Stage>(v[1], v[2], v[3]) + v[4] +
                          kStageConstants[Stage] + word;
    v[4] = v[3];
    v[3] = v[2];
    v[2] = std::rotl(v[1], 30);
    v[1] = v[0];
    v[0] = temp;
  }
}

void Sha1Transform(uint32_t state[5], const uint8_t* block) {
  uint32_t schedule[16];
  for (int i = 0; i < 16; ++i)
    schedule[i] = LoadBigEndian32(block + 4 * i);
  uint32_t v[5] = {state[0], state[1], state[2], state[3], state[4]};
  RunStage<0>(v, schedule, 0);
  RunStage<1>(v, schedule, 20);
  RunStage<2>(v, schedule, 40);
  RunStage<3>(v, schedule, 60);
  for (int i = 0; i < 5; ++i)
    state[i] += v[i];
}

}  // namespace

void Sha1HashBytes(const uint8_t* data, size_t length,
                   uint8_t digest[kSha1Length]) {
  uint32_t state[5] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476,
                       0xc3d2e1f0};
  const size_t whole_blocks = length / kBlockSize;
  for (size_t i = 0; i < whole_blocks; ++i)
    Sha1Transform(state, data + i * kBlockSize);

  // The rest, 0x80, zeros and the 64-bit bit count fill one or two blocks.
  uint8_t tail[2 * kBlockSize] = {};
  const size_t rest = length % kBlockSize;
  if (rest != 0)
    std::memcpy(tail, data + whole_blocks * kBlockSize, rest);
  tail[rest] = 0x80;
  const size_t tail_size = rest < 56 ? kBlockSize : 2 * kBlockSize;
  const uint64_t bits = static_cast<uint64_t>(length) << 3;
  StoreBigEndian32(static_cast<uint32_t>(bits >> 32), tail + tail_size - 8);
  StoreBigEndian32(static_cast<uint32_t>(bits), tail + tail_size - 4);
  for (size_t offset = 0; offset < tail_size; offset += kBlockSize)
    Sha1Transform(state, tail + offset);

  for (int i = 0; i < 5; ++i)
    StoreBigEndian32(state[i], digest + 4 * i);
}

}  // namespace base
