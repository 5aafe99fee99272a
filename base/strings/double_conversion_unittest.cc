#include "base/strings/double_conversion.h"

#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>

#include "gtest/gtest.h"

namespace base {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

std::string Format(double value) {
  char buffer[kFormatDoubleShortestBufferSize];
  return FormatDoubleShortest(buffer, value);
}

TEST(DoubleFormat, ChoosesPositionalOrExponentForm) {
  const struct {
    double value;
    const char* text;
  } kCases[] = {
      {0.1, ".1"},
      {0.5, ".5"},
      {100, "100"},
      {100000, "100000"},
      {1000000, "1e+06"},
      {123456, "123456"},
      {1234567, "1234567"},
      // 17 digits: positional up to five trailing zeros, then exponent form.
      {1.2345678901234568e21, "1234567890123456800000"},
      {1.2345678901234568e22, "1.2345678901234568e+22"},
      {0.0001, ".0001"},
      {0.00012, ".00012"},
      {0.00001, "1e-05"},
      {123000000, "1.23e+08"},
      {1e100, "1e+100"},
      {-2.5, "-2.5"},
      {1.5e-300, "1.5e-300"},
      {0.0, "0"},
      {-0.0, "-0"},
      {std::numeric_limits<double>::max(), "1.7976931348623157e+308"},
      {std::numeric_limits<double>::denorm_min(), "5e-324"},
      {-std::numeric_limits<double>::denorm_min(), "-5e-324"},
      {kInf, "Infinity"},
      {-kInf, "-Infinity"},
      {std::numeric_limits<double>::quiet_NaN(), "NaN"},
  };
  for (const auto& c : kCases)
    EXPECT_EQ(c.text, Format(c.value));
}

TEST(DoubleFormat, LongestTextFitsTheBuffer) {
  // 17 digits and a three-digit negative exponent: 24 characters.
  EXPECT_EQ("-2.2250738585072014e-308",
            Format(-std::numeric_limits<double>::min()));
}

TEST(DoubleShortestDigits, GivesDigitsExponentAndSign) {
  ShortestDigits d = DoubleToShortestDigits(-1234.5);
  EXPECT_STREQ("12345", d.digits);
  EXPECT_EQ(5, d.length);
  EXPECT_EQ(4, d.decimal_exponent);
  EXPECT_TRUE(d.negative);

  d = DoubleToShortestDigits(0.0);
  EXPECT_STREQ("0", d.digits);
  EXPECT_EQ(1, d.decimal_exponent);

  d = DoubleToShortestDigits(-std::numeric_limits<double>::quiet_NaN());
  EXPECT_STREQ("NaN", d.digits);
  EXPECT_EQ(ShortestDigits::kSpecialExponent, d.decimal_exponent);
  EXPECT_TRUE(d.negative);
}

struct ParseCase {
  const char* text;
  double value;
  size_t consumed;
  bool range_error;
};

TEST(DoubleParse, StopsWhereTheNumberEnds) {
  const ParseCase kCases[] = {
      {" \t\n\v\f\r12abc", 12, 8, false},
      {"+.5", 0.5, 3, false},
      {"5.", 5, 2, false},
      {"1e+", 1, 1, false},
      {"1E-2x", 0.01, 4, false},
      {"1e0000000000000000000002", 100, 24, false},
      {"0x10", 0, 1, false},
      {".", 0, 0, false},
      {"-", 0, 0, false},
      {" e5", 0, 0, false},
      {"infinit", kInf, 3, false},
      {"-InFiNiTy!", -kInf, 9, false},
      {"nan(zz)", NAN, 3, false},
      {"nan()", NAN, 3, false},
      {"NaN(7)x", NAN, 6, false},
  };
  for (const ParseCase& c : kCases) {
    errno = 0;
    const char* end = nullptr;
    const double value = StringToDoubleImpl(c.text, &end);
    if (std::isnan(c.value))
      EXPECT_TRUE(std::isnan(value)) << c.text;
    else
      EXPECT_EQ(c.value, value) << c.text;
    EXPECT_EQ(c.consumed, static_cast<size_t>(end - c.text)) << c.text;
    EXPECT_EQ(c.range_error, errno == ERANGE) << c.text;
  }
}

TEST(DoubleParse, RangeErrorsOnlyWhenTheValueIsLost) {
  const ParseCase kCases[] = {
      {"1e400", kInf, 5, true},
      {"-1.8e308", -kInf, 8, true},
      {"1e99999999999999", kInf, 16, true},
      {"1e-400", 0, 6, true},
      {"-1e-99999999999", -0.0, 15, true},
      {"2e-324", 0, 6, true},
      // Subnormal results are kept, not reported.
      {"3e-324", 5e-324, 6, false},
      {"2.2250738585072011e-308", 2.2250738585072009e-308, 23, false},
      {"0e99999", 0, 7, false},
      {"0.000e-999", 0, 10, false},
      {"1.7976931348623158e308", 1.7976931348623157e308, 22, false},
  };
  for (const ParseCase& c : kCases) {
    errno = 0;
    const char* end = nullptr;
    const double value = StringToDoubleImpl(c.text, &end);
    EXPECT_EQ(c.value, value) << c.text;
    EXPECT_EQ(std::signbit(c.value), std::signbit(value)) << c.text;
    EXPECT_EQ(c.consumed, static_cast<size_t>(end - c.text)) << c.text;
    EXPECT_EQ(c.range_error, errno == ERANGE) << c.text;
  }
}

TEST(DoubleParse, SaturatesWrittenExponentsBeyondTheLimit) {
  // A written exponent of 20000 or more counts as 19999, also when a very
  // long mantissa would bring the value back into range.
  const std::string text = "1" + std::string(20000, '0') + "e-20000";
  const char* end = nullptr;
  EXPECT_EQ(10, StringToDoubleImpl(text.c_str(), &end));
  EXPECT_EQ(text.c_str() + text.size(), end);
}

TEST(DoubleParse, NanPayloadFillsTheMantissa) {
  const char* end = nullptr;
  EXPECT_EQ(0x7ff8000000000abcu,
            std::bit_cast<uint64_t>(StringToDoubleImpl("nan(abc)", &end)));
  EXPECT_EQ(0xfff8000000000000u,
            std::bit_cast<uint64_t>(StringToDoubleImpl("-nan", &end)));
}

}  // namespace
}  // namespace base
