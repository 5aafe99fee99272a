#include "base/hash/md5.h"

#include <array>
#include <bit>
#include <cstring>

namespace base {
namespace {

constexpr size_t kBlockSize = 64;

// Round constants: floor(abs(sin(i + 1)) * 2^32), as the standard tabulates.
constexpr std::array<uint32_t, 64> kSineTable = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a,
    0xa8304613, 0xfd469501, 0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be,
    0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821, 0xf61e2562, 0xc040b340,
    0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8,
    0x676f02d9, 0x8d2a4c8a, 0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c,
    0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70, 0x289b7ec6, 0xeaa127fa,
    0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92,
    0xffeff47d, 0x85845dd1, 0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1,
    0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

// Left-rotation amounts: four per round, repeated across its 16 steps.
constexpr int kShifts[4][4] = {
    {7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

uint32_t LoadLittleEndian32(const uint8_t* bytes) {
  return uint32_t{bytes[0]} | uint32_t{bytes[1]} << 8 |
         uint32_t{bytes[2]} << 16 | uint32_t{bytes[3]} << 24;
}

void StoreLittleEndian32(uint32_t value, uint8_t* bytes) {
  for (int i = 0; i < 4; ++i)
    bytes[i] = static_cast<uint8_t>(value >> (8 * i));
}

// One step of round `Round` (0 to 3) at position `i` (0 to 63); the word index
// and auxiliary function follow the standard's four rounds.
template <int Round>
inline void Step(uint32_t& a, uint32_t b, uint32_t c, uint32_t d,
                 const uint32_t* words, int i) {
  uint32_t f;
  int word;
  if constexpr (Round == 0) {
    f = d ^ (b & (c ^ d));
    word = i;
  } else if constexpr (Round == 1) {
    f = c ^ (d & (b ^ c));
    word = (5 * i + 1) & 15;
  } else if constexpr (Round == 2) {
    f = b ^ c ^ d;
    word = (3 * i + 5) & 15;
  } else {
    f = c ^ (b | ~d);
    word = (7 * i) & 15;
  }
  a = b + std::rotl(a + f + kSineTable[i] + words[word],
                    kShifts[Round][i & 3]);
}

template <int Round>
inline void RunRound(uint32_t& a, uint32_t& b, uint32_t& c, uint32_t& d,
                     const uint32_t* words) {
  // Fully unrolled so that every constant and shift is an immediate.
#pragma GCC unroll 4
  for (int i = Round * 16; i < Round * 16 + 16; i += 4) {
    Step<Round>(a, b, c, d, words, i);
    Step<Round>(d, a, b, c, words, i + 1);
    Step<Round>(c, d, a, b, words, i + 2);
    Step<Round>(b, c, d, a, words, i + 3);
  }
}

void Md5Transform(uint32_t state[4], const uint8_t block[kBlockSize]) {
  uint32_t words[16];
  for (int i = 0; i < 16; ++i)
    words[i] = LoadLittleEndian32(block + 4 * i);
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
  RunRound<0>(a, b, c, d, words);
  RunRound<1>(a, b, c, d, words);
  RunRound<2>(a, b, c, d, words);
  RunRound<3>(a, b, c, d, words);
  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
}

uint64_t BitCount(const Md5Context& context) {
  return uint64_t{context.bit_count[1]} << 32 | context.bit_count[0];
}

}  // namespace

void Md5Init(Md5Context* context) {
  context->state[0] = 0x67452301;
  context->state[1] = 0xefcdab89;
  context->state[2] = 0x98badcfe;
  context->state[3] = 0x10325476;
  context->bit_count[0] = 0;
  context->bit_count[1] = 0;
}

void Md5Update(Md5Context* context, StringSlice data) {
  const uint8_t* input = reinterpret_cast<const uint8_t*>(data.data());
  uint64_t length = data.size();
  const uint64_t old_bits = BitCount(*context);
  size_t buffered = static_cast<size_t>((old_bits >> 3) % kBlockSize);
  // The count is of bits modulo 2^64, as the padding records it.
  const uint64_t new_bits = old_bits + (length << 3);
  context->bit_count[0] = static_cast<uint32_t>(new_bits);
  context->bit_count[1] = static_cast<uint32_t>(new_bits >> 32);

  if (buffered != 0) {
    const size_t room = kBlockSize - buffered;
    if (length < room) {
      std::memcpy(context->buffer + buffered, input, length);
      return;
    }
    std::memcpy(context->buffer + buffered, input, room);
    Md5Transform(context->state, context->buffer);
    input += room;
    length -= room;
  }
  for (; length >= kBlockSize; input += kBlockSize, length -= kBlockSize)
    Md5Transform(context->state, input);
  if (length != 0)
    std::memcpy(context->buffer, input, length);
}

void Md5Final(uint8_t digest[kMd5DigestSize], Md5Context* context) {
  uint8_t length_bytes[8];
  StoreLittleEndian32(context->bit_count[0], length_bytes);
  StoreLittleEndian32(context->bit_count[1], length_bytes + 4);

  // 0x80, then zeros up to 56 bytes into a block, then the bit count.
  static constexpr uint8_t kPadding[kBlockSize] = {0x80};
  const size_t buffered = (context->bit_count[0] >> 3) % kBlockSize;
  const size_t padding =
      buffered < 56 ? 56 - buffered : kBlockSize + 56 - buffered;
  Md5Update(context, StringSlice(reinterpret_cast<const char*>(kPadding),
                                 padding));
  Md5Update(context,
            StringSlice(reinterpret_cast<const char*>(length_bytes), 8));

  for (int i = 0; i < 4; ++i)
    StoreLittleEndian32(context->state[i], digest + 4 * i);
}

}  // namespace base
