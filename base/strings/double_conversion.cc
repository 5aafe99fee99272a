#include "base/strings/double_conversion.h"

#include <bit>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "base/strings/string_number_conversions.h"

namespace base {
namespace {

// A written exponent beyond this magnitude saturates to it: the result is then
// surely infinity or zero (short of ~20,000 mantissa digits), and no exponent
// arithmetic can overflow.
constexpr int kMaxWrittenExponent = 19999;

bool IsLeadingBlank(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// Whether `text` starts with the lower-case `word`, in any letter case. Stops
// at the NUL of `text`.
bool StartsWithWord(const char* text, const char* word) {
  for (; *word; ++text, ++word) {
    const char lower =
        (*text >= 'A' && *text <= 'Z') ? *text + ('a' - 'A') : *text;
    if (lower != *word)
      return false;
  }
  return true;
}

// A decimal literal as scanned: mantissa, then an optional exponent.
struct DecimalLiteral {
  const char* mantissa_end;
  const char* end;  // after the exponent when it had digits
  int exponent;     // as written, saturated at kMaxWrittenExponent
  bool exponent_saturated;
  bool nonzero;  // some mantissa digit is not 0
  // The value lies in [10^(magnitude - 1), 10^magnitude) x 10^exponent.
  int64_t magnitude;
};

void ScanExponent(const char* p, DecimalLiteral* literal) {
  literal->end = p;
  literal->exponent = 0;
  literal->exponent_saturated = false;
  if (*p != 'e' && *p != 'E')
    return;
  ++p;
  const bool negative = *p == '-';
  if (*p == '+' || *p == '-')
    ++p;
  if (!IsDigit(*p))
    return;  // "1e" reads as 1 followed by text
  int value = 0;
  for (; IsDigit(*p); ++p) {
    value = value * 10 + (*p - '0');
    if (value > kMaxWrittenExponent) {
      value = kMaxWrittenExponent;
      literal->exponent_saturated = true;
    }
  }
  literal->end = p;
  literal->exponent = negative ? -value : value;
}

// Scans digits with an optional point and fraction, then the exponent. False
// when the mantissa has no digit at all.
bool ScanDecimal(const char* p, DecimalLiteral* literal) {
  bool any_digit = false;
  bool nonzero = false;
  int64_t integer_digits = 0;  // from the first non-zero one
  int64_t fraction_zeros = 0;  // before the first non-zero one
  for (; IsDigit(*p); ++p) {
    any_digit = true;
    nonzero = nonzero || *p != '0';
    integer_digits += nonzero;
  }
  if (*p == '.') {
    for (++p; IsDigit(*p); ++p) {
      any_digit = true;
      nonzero = nonzero || *p != '0';
      fraction_zeros += !nonzero;
    }
  }
  if (!any_digit)
    return false;
  literal->mantissa_end = p;
  literal->nonzero = nonzero;
  literal->magnitude = integer_digits > 0 ? integer_digits : -fraction_zeros;
  ScanExponent(p, literal);
  return true;
}

double ConvertDecimal(const char* begin, const DecimalLiteral& literal) {
  double value = 0;
  std::from_chars_result result;
  if (literal.exponent_saturated) {
    // from_chars must meet the exponent as saturated, not as written.
    std::string text(begin, literal.mantissa_end);
    text += 'e';
    text += std::to_string(literal.exponent);
    result = std::from_chars(text.data(), text.data() + text.size(), value);
  } else {
    result = std::from_chars(begin, literal.end, value);
  }
  if (result.ec == std::errc::result_out_of_range) {
    // from_chars leaves the value alone when out of range; the literal's
    // magnitude tells whether it overflowed or underflowed.
    errno = ERANGE;
    return literal.magnitude + literal.exponent > 0
               ? std::numeric_limits<double>::infinity()
               : 0.0;
  }
  if (value == 0 && literal.nonzero)
    errno = ERANGE;
  return value;
}

// An optional "(hex digits)" after "nan": the payload fills the mantissa of
// a quiet NaN. A malformed payload is not part of the number.
const char* ScanNanPayload(const char* p, double* value) {
  if (*p != '(')
    return p;
  const char* q = p + 1;
  uint64_t payload = 0;
  for (int digit; (digit = HexDigitToInt(*q)) >= 0; ++q)
    payload = payload << 4 | static_cast<uint64_t>(digit);
  if (q == p + 1 || *q != ')')
    return p;
  constexpr uint64_t kMantissaMask = (uint64_t{1} << 52) - 1;
  constexpr uint64_t kQuietNan = 0x7ff8000000000000;
  if (payload & kMantissaMask)
    *value = std::bit_cast<double>(kQuietNan | (payload & kMantissaMask));
  return q + 1;
}

// "inf", "infinity" or "nan" in any case; null when none of them.
const char* ScanSpecial(const char* p, double* value) {
  if (StartsWithWord(p, "inf")) {
    *value = std::numeric_limits<double>::infinity();
    return p + (StartsWithWord(p + 3, "inity") ? 8 : 3);
  }
  if (StartsWithWord(p, "nan")) {
    *value = std::numeric_limits<double>::quiet_NaN();
    return ScanNanPayload(p + 3, value);
  }
  return nullptr;
}

ShortestDigits MakeDigits(const char* text,
                          int decimal_exponent,
                          bool negative) {
  ShortestDigits result{};
  for (; text[result.length]; ++result.length)
    result.digits[result.length] = text[result.length];
  result.decimal_exponent = decimal_exponent;
  result.negative = negative;
  return result;
}

char* CopyChars(const char* from, int count, char* out) {
  for (int i = 0; i < count; ++i)
    *out++ = from[i];
  return out;
}

char* FillZeros(int count, char* out) {
  for (int i = 0; i < count; ++i)
    *out++ = '0';
  return out;
}

// d1[.d2...dn]e(+|-)XX, the exponent with at least two digits.
char* WriteExponentForm(const ShortestDigits& d, char* out) {
  *out++ = d.digits[0];
  if (d.length > 1) {
    *out++ = '.';
    out = CopyChars(d.digits + 1, d.length - 1, out);
  }
  const int exponent = d.decimal_exponent - 1;
  *out++ = 'e';
  *out++ = exponent < 0 ? '-' : '+';
  const int magnitude = exponent < 0 ? -exponent : exponent;
  if (magnitude < 10)
    *out++ = '0';
  return std::to_chars(out, out + 4, magnitude).ptr;
}

char* WritePositionalForm(const ShortestDigits& d, char* out) {
  const int n = d.length;
  const int e = d.decimal_exponent;
  if (e <= 0) {
    *out++ = '.';
    out = FillZeros(-e, out);
    return CopyChars(d.digits, n, out);
  }
  if (e >= n)
    return FillZeros(e - n, CopyChars(d.digits, n, out));
  out = CopyChars(d.digits, e, out);
  *out++ = '.';
  return CopyChars(d.digits + e, n - e, out);
}

}  // namespace

double StringToDoubleImpl(const char* text, const char** end) {
  const char* p = text;
  while (IsLeadingBlank(*p))
    ++p;
  const bool negative = *p == '-';
  if (*p == '+' || *p == '-')
    ++p;
  double value = 0;
  DecimalLiteral literal;
  if (ScanDecimal(p, &literal)) {
    value = ConvertDecimal(p, literal);
    *end = literal.end;
  } else if (const char* special_end = ScanSpecial(p, &value)) {
    *end = special_end;
  } else {
    *end = text;
    return 0;
  }
  return negative ? -value : value;
}

ShortestDigits DoubleToShortestDigits(double value) {
  const bool negative = std::signbit(value);
  if (std::isinf(value))
    return MakeDigits("Infinity", ShortestDigits::kSpecialExponent, negative);
  if (std::isnan(value))
    return MakeDigits("NaN", ShortestDigits::kSpecialExponent, negative);
  if (value == 0)
    return MakeDigits("0", 1, negative);
  // The shortest scientific form of to_chars, "d.ddde+XX", carries the
  // shortest digits that read back, the nearest among equals, no trailing 0.
  char text[32];
  const char* text_end =
      std::to_chars(text, text + sizeof(text), std::fabs(value),
                    std::chars_format::scientific)
          .ptr;
  ShortestDigits result{};
  const char* p = text;
  for (; p != text_end && *p != 'e'; ++p) {
    if (*p != '.')
      result.digits[result.length++] = *p;
  }
  int exponent = 0;
  ++p;  // 'e'
  std::from_chars(*p == '+' ? p + 1 : p, text_end, exponent);
  result.decimal_exponent = exponent + 1;
  result.negative = negative;
  return result;
}

char* FormatDoubleShortest(char* buffer, double value) {
  const ShortestDigits digits = DoubleToShortestDigits(value);
  char* out = buffer;
  if (digits.negative)
    *out++ = '-';
  const int e = digits.decimal_exponent;
  if (e == ShortestDigits::kSpecialExponent)
    out = CopyChars(digits.digits, digits.length, out);
  else if (e <= -4 || e > digits.length + 5)
    out = WriteExponentForm(digits, out);
  else
    out = WritePositionalForm(digits, out);
  *out = '\0';
  return buffer;
}

}  // namespace base
