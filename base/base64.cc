#include "base/base64.h"

#include <array>
#include <cstdint>
#include <utility>

namespace base {
namespace {

constexpr char kAlphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Marks a character outside the alphabet; OR-ed with any valid values it
// stays at or above 2^24, which no 24-bit group reaches.
constexpr uint32_t kInvalid = 0x01FFFFFF;
constexpr uint32_t kErrorThreshold = 0x01000000;
constexpr size_t kError = ~size_t{0};

using DecodeTable = std::array<uint32_t, 256>;

// One table per position in a group of four, holding the character's six
// bits already shifted into place, so that a group decodes with three ORs.
constexpr DecodeTable MakeDecodeTable(int position) {
  DecodeTable table{};
  for (uint32_t& entry : table)
    entry = kInvalid;
  for (uint32_t value = 0; value < 64; ++value) {
    const auto c = static_cast<unsigned char>(kAlphabet[value]);
    table[c] = value << (18 - 6 * position);
  }
  return table;
}

constexpr DecodeTable kDecodeTables[4] = {MakeDecodeTable(0), MakeDecodeTable(1),
                                          MakeDecodeTable(2), MakeDecodeTable(3)};

uint32_t Lookup(int position, char c) {
  return kDecodeTables[position][static_cast<unsigned char>(c)];
}

// Decodes `length` characters of `source` into `destination`; returns the
// number of bytes written, or kError.
size_t DecodeBase64Block(char* destination, const char* source, size_t length) {
  if (length == 0)
    return 0;
  if (length < 4 || length % 4 != 0)
    return kError;
  // At most two padding characters, and only at the very end.
  if (source[length - 1] == '=') {
    --length;
    if (source[length - 1] == '=')
      --length;
  }

  char* out = destination;
  const size_t whole_groups = length / 4;
  for (size_t i = 0; i < whole_groups; ++i, source += 4) {
    const uint32_t bits = Lookup(0, source[0]) | Lookup(1, source[1]) |
                          Lookup(2, source[2]) | Lookup(3, source[3]);
    if (bits >= kErrorThreshold)
      return kError;
    *out++ = static_cast<char>(bits >> 16);
    *out++ = static_cast<char>(bits >> 8);
    *out++ = static_cast<char>(bits);
  }

  // A padded final group; the unused low bits of its last character are not
  // required to be zero.
  switch (length % 4) {
    case 3: {
      const uint32_t bits =
          Lookup(0, source[0]) | Lookup(1, source[1]) | Lookup(2, source[2]);
      if (bits >= kErrorThreshold)
        return kError;
      *out++ = static_cast<char>(bits >> 16);
      *out++ = static_cast<char>(bits >> 8);
      break;
    }
    case 2: {
      const uint32_t bits = Lookup(0, source[0]) | Lookup(1, source[1]);
      if (bits >= kErrorThreshold)
        return kError;
      *out++ = static_cast<char>(bits >> 16);
      break;
    }
  }
  return static_cast<size_t>(out - destination);
}

}  // namespace

bool Base64Decode(StringSlice input, std::string* output) {
  std::string decoded;
  decoded.resize(3 * (input.size() / 4) + 2);
  const size_t size =
      DecodeBase64Block(decoded.data(), input.data(), input.size());
  if (size == kError)
    return false;
  decoded.resize(size);
  output->swap(decoded);
  return true;
}

}  // namespace base
