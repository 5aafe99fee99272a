#ifndef BASE_STRINGS_DOUBLE_CONVERSION_H_
#define BASE_STRINGS_DOUBLE_CONVERSION_H_

#include <cstddef>

namespace base {

// Parses a double from the NUL-terminated `text` like strtod in the C locale,
// correctly rounded, and stores in `*end` where parsing stopped (`text` itself
// when no number was found; the value is then 0). Accepts leading blanks, a
// sign, decimal digits with an optional point and exponent, and "inf",
// "infinity" and "nan" (optionally "nan(hex)") in any case. Sets errno to
// ERANGE when the result overflows to infinity or a non-zero literal rounds to
// zero; a subnormal result is kept without a range error, so that every text
// FormatDoubleShortest writes reads back.
double StringToDoubleImpl(const char* text, const char** end);

// The shortest digits that read back as one double: the value is
// 0.d1d2...dn x 10^decimal_exponent. Infinity and NaN give the digits
// "Infinity" and "NaN" with the exponent kSpecialExponent; zero gives "0"
// with the exponent 1.
struct ShortestDigits {
  static constexpr int kSpecialExponent = 9999;
  static constexpr size_t kMaxDigits = 17;

  char digits[kMaxDigits + 1];  // NUL-terminated, no trailing zeros
  int length;
  int decimal_exponent;
  bool negative;  // the sign bit, also for -0 and NaN
};

ShortestDigits DoubleToShortestDigits(double value);

// The longest text is 24 characters ("-" 17 digits "." "e-308"), plus NUL.
constexpr size_t kFormatDoubleShortestBufferSize = 32;

// Writes the shortest text of `value` into `buffer`, which must hold
// kFormatDoubleShortestBufferSize characters, and returns `buffer`. Forms:
// ".5", "100000", "1e+06", ".0001", "1e-05", "-0", "Infinity", "NaN".
char* FormatDoubleShortest(char* buffer, double value);

}  // namespace base

#endif  // BASE_STRINGS_DOUBLE_CONVERSION_H_
