#include "base/strings/string_number_conversions.h"

#include <cctype>
#include <cerrno>
#include <cwctype>
#include <iterator>
#include <limits>
#include <type_traits>

#include "base/strings/double_conversion.h"

namespace base {
namespace {

template <typename Char, typename Unsigned>
std::basic_string<Char> FormatDecimal(Unsigned magnitude, bool negative) {
  Char buffer[21];  // the 20 digits of 2^64 - 1, or a sign and 19 digits
  Char* const end = buffer + std::size(buffer);
  Char* p = end;
  do {
    *--p = static_cast<Char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (negative)
    *--p = '-';
  return std::basic_string<Char>(p, end);
}

template <typename Char, typename Signed>
std::basic_string<Char> FormatSigned(Signed value) {
  using Unsigned = std::make_unsigned_t<Signed>;
  // Negating in unsigned arithmetic keeps the most negative value exact.
  const Unsigned magnitude = value < 0
                                 ? Unsigned{0} - static_cast<Unsigned>(value)
                                 : static_cast<Unsigned>(value);
  return FormatDecimal<Char>(magnitude, value < 0);
}

bool IsSpaceChar(char c) {
  return std::isspace(static_cast<unsigned char>(c)) != 0;
}

bool IsSpaceChar(wchar_t c) {
  return std::iswspace(c) != 0;
}

// The whole code unit must be an ASCII digit; -1 otherwise.
template <typename Char>
int DigitValue(Char c) {
  return (c >= '0' && c <= '9') ? static_cast<int>(c - '0') : -1;
}

// What precedes the digits of every integer parser.
template <typename Char>
struct Prelude {
  const Char* digits;
  bool clean;  // no leading whitespace: skipped, but the result is false
  bool negative;
};

template <typename Char>
Prelude<Char> ScanPrelude(const Char* p, const Char* end) {
  Prelude<Char> prelude{p, true, false};
  for (; p != end && IsSpaceChar(*p); ++p)
    prelude.clean = false;
  if (p != end && (*p == '-' || *p == '+')) {
    prelude.negative = *p == '-';
    ++p;
  }
  prelude.digits = p;
  return prelude;
}

// Each stop writes what the caller may still use: the digits so far, or the
// bound that would have been passed.
template <typename Int, typename Char>
bool AccumulatePositive(const Char* p, const Char* end, Int* output) {
  constexpr Int kMax = std::numeric_limits<Int>::max();
  Int value = 0;
  for (; p != end; ++p) {
    const int digit = DigitValue(*p);
    if (digit < 0)
      break;
    const Int d = static_cast<Int>(digit);
    if (value > kMax / 10 || (value == kMax / 10 && d > kMax % 10)) {
      *output = kMax;
      return false;
    }
    value = static_cast<Int>(value * 10 + d);
  }
  *output = value;
  return p == end;
}

// Accumulates downwards, so the most negative value parses without overflow.
template <typename Int, typename Char>
bool AccumulateNegative(const Char* p, const Char* end, Int* output) {
  constexpr Int kMin = std::numeric_limits<Int>::min();
  Int value = 0;
  for (; p != end; ++p) {
    const int digit = DigitValue(*p);
    if (digit < 0)
      break;
    const Int d = static_cast<Int>(digit);
    if (value < kMin / 10 || (value == kMin / 10 && d > -(kMin % 10))) {
      *output = kMin;
      return false;
    }
    value = static_cast<Int>(value * 10 - d);
  }
  *output = value;
  return p == end;
}

template <typename Int, typename Char>
bool ParseDecimal(const Char* begin, const Char* end, Int* output) {
  const Prelude<Char> prelude = ScanPrelude(begin, end);
  *output = 0;
  if (prelude.digits == end)
    return false;
  bool complete;
  if constexpr (std::is_signed_v<Int>) {
    complete = prelude.negative
                   ? AccumulateNegative(prelude.digits, end, output)
                   : AccumulatePositive(prelude.digits, end, output);
  } else {
    // No digit after a "-" is read for an unsigned type.
    if (prelude.negative)
      return false;
    complete = AccumulatePositive(prelude.digits, end, output);
  }
  return complete && prelude.clean;
}

// A value of 2^60 or more cannot take another digit.
bool HexDigitsToUInt64(const char* p, const char* end, uint64_t* output) {
  uint64_t value = 0;
  for (; p != end; ++p) {
    const int digit = HexDigitToInt(*p);
    if (digit < 0)
      break;
    if (value >= uint64_t{1} << 60) {
      *output = std::numeric_limits<uint64_t>::max();
      return false;
    }
    value = value << 4 | static_cast<uint64_t>(digit);
  }
  *output = value;
  return p == end;
}

}  // namespace

int HexDigitToInt(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  return -1;
}

std::string IntToString(int32_t value) {
  return FormatSigned<char>(value);
}

std::wstring IntToString16(int32_t value) {
  return FormatSigned<wchar_t>(value);
}

std::wstring UintToString16(uint32_t value) {
  return FormatDecimal<wchar_t>(value, false);
}

std::string Int64ToString(int64_t value) {
  return FormatSigned<char>(value);
}

std::wstring Int64ToString16(int64_t value) {
  return FormatSigned<wchar_t>(value);
}

std::string Uint64ToString(uint64_t value) {
  return FormatDecimal<char>(value, false);
}

std::wstring Uint64ToString16(uint64_t value) {
  return FormatDecimal<wchar_t>(value, false);
}

std::string HexEncode(const void* bytes, size_t count) {
  static constexpr char kHexDigits[] = "0123456789ABCDEF";
  const auto* data = static_cast<const uint8_t*>(bytes);
  std::string text(count * 2, '\0');
  for (size_t i = 0; i < count; ++i) {
    text[2 * i] = kHexDigits[data[i] >> 4];
    text[2 * i + 1] = kHexDigits[data[i] & 0xf];
  }
  return text;
}

bool StringToInt(StringSlice input, int32_t* output) {
  return ParseDecimal(input.begin(), input.end(), output);
}

bool StringToInt64Impl(const char* begin, const char* end, int64_t* output) {
  return ParseDecimal(begin, end, output);
}

bool StringToUintImpl(const char* begin, const char* end, uint32_t* output) {
  return ParseDecimal(begin, end, output);
}

bool StringToUint64(StringSlice input, uint64_t* output) {
  return ParseDecimal(input.begin(), input.end(), output);
}

bool WideStringToUint(WideStringSlice input, uint32_t* output) {
  return ParseDecimal(input.begin(), input.end(), output);
}

bool WideStringToInt64(WideStringSlice input, int64_t* output) {
  return ParseDecimal(input.begin(), input.end(), output);
}

bool HexStringToUInt64(StringSlice input, uint64_t* output) {
  const char* const end = input.end();
  const Prelude<char> prelude = ScanPrelude(input.begin(), end);
  *output = 0;
  if (prelude.negative || prelude.digits == end)
    return false;
  const char* digits = prelude.digits;
  // "0x" alone is the digit 0 followed by a stray "x".
  if (end - digits > 2 && digits[0] == '0' &&
      (digits[1] == 'x' || digits[1] == 'X'))
    digits += 2;
  return HexDigitsToUInt64(digits, end, output) && prelude.clean;
}

bool HexStringToBytes(const std::string& input, std::vector<uint8_t>* output) {
  if (input.empty() || input.size() % 2 != 0)
    return false;
  for (size_t i = 0; i < input.size(); i += 2) {
    const int high = HexDigitToInt(input[i]);
    const int low = HexDigitToInt(input[i + 1]);
    if (high < 0 || low < 0)
      return false;
    output->push_back(static_cast<uint8_t>(high << 4 | low));
  }
  return true;
}

bool StringToDouble(const std::string& input, double* output) {
  const int saved_errno = errno;
  errno = 0;
  const char* end = nullptr;
  *output = StringToDoubleImpl(input.c_str(), &end);
  const bool range_error = errno == ERANGE;
  if (errno == 0)
    errno = saved_errno;
  // An embedded NUL stops parsing short of the end, and fails.
  return !range_error && !input.empty() &&
         end == input.c_str() + input.size() && !IsSpaceChar(input[0]);
}

}  // namespace base
