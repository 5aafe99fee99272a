#include "base/rand_util.h"

#include <windows.h>

#include <ntsecapi.h>  // RtlGenRandom, exported by advapi32 as SystemFunction036

#include <limits>

#include "base/logging.h"

namespace base {
namespace {

uint64_t RandomUint64() {
  uint64_t value = 0;
  CHECK(RtlGenRandom(&value, sizeof(value)));
  return value;
}

// Appends the low `digits` hex digits of `value`, lower case.
void AppendHex(uint64_t value, int digits, std::string* text) {
  static constexpr char kDigits[] = "0123456789abcdef";
  for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4)
    text->push_back(kDigits[(value >> shift) & 0xf]);
}

}  // namespace

int32_t RandomIntInRange(int32_t min, int32_t max) {
  // A reversed range would give a zero or wrapped modulus below.
  CHECK(min <= max);
  const uint64_t range =
      static_cast<uint64_t>(static_cast<int64_t>(max) - min) + 1;
  // Words above the last whole multiple of `range` would favour small
  // results, so they are drawn again.
  constexpr uint64_t kAll = std::numeric_limits<uint64_t>::max();
  const uint64_t limit = kAll - kAll % range - 1;
  uint64_t word;
  do {
    word = RandomUint64();
  } while (word > limit);
  return static_cast<int32_t>(min + static_cast<int64_t>(word % range));
}

std::string GenerateGuidText() {
  uint64_t a = RandomUint64();
  uint64_t b = RandomUint64();
  a = (a & ~uint64_t{0xf000}) | 0x4000;  // version 4
  b = (b & ~(uint64_t{3} << 62)) | (uint64_t{2} << 62);  // RFC 4122 variant

  std::string text;
  text.reserve(36);
  AppendHex(a >> 32, 8, &text);
  text.push_back('-');
  AppendHex(a >> 16, 4, &text);
  text.push_back('-');
  AppendHex(a, 4, &text);
  text.push_back('-');
  AppendHex(b >> 48, 4, &text);
  text.push_back('-');
  AppendHex(b, 12, &text);
  return text;
}

}  // namespace base
