#include "base/strings/string_number_conversions.h"

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "gtest/gtest.h"

namespace base {
namespace {

TEST(StringNumberWriters, AgreeWithStandardLibraryAtBoundaries) {
  for (int64_t value :
       {int64_t{0}, int64_t{-1}, int64_t{7}, int64_t{-10}, int64_t{INT32_MIN},
        int64_t{INT32_MAX}, int64_t{UINT32_MAX}, INT64_MIN, INT64_MAX}) {
    SCOPED_TRACE(value);
    if (value >= INT32_MIN && value <= INT32_MAX) {
      EXPECT_EQ(std::to_string(value),
                IntToString(static_cast<int32_t>(value)));
      EXPECT_EQ(std::to_wstring(value),
                IntToString16(static_cast<int32_t>(value)));
    }
    if (value >= 0 && value <= UINT32_MAX) {
      EXPECT_EQ(std::to_wstring(value),
                UintToString16(static_cast<uint32_t>(value)));
    }
    EXPECT_EQ(std::to_string(value), Int64ToString(value));
    EXPECT_EQ(std::to_wstring(value), Int64ToString16(value));
  }
  EXPECT_EQ("18446744073709551615", Uint64ToString(UINT64_MAX));
  EXPECT_EQ(L"18446744073709551615", Uint64ToString16(UINT64_MAX));
  EXPECT_EQ(L"0", Uint64ToString16(0));
}

TEST(StringNumberWriters, HexEncodeIsUpperCaseHighNibbleFirst) {
  const uint8_t bytes[] = {0x00, 0x0f, 0xa5, 0xff};
  EXPECT_EQ("000FA5FF", HexEncode(bytes, sizeof(bytes)));
  EXPECT_EQ("", HexEncode(bytes, 0));
}

struct IntCase {
  const char* text;
  bool ok;
  int64_t value;
};

TEST(StringNumberParsers, StringToIntReportsWhatItRead) {
  const IntCase kCases[] = {
      {"", false, 0},
      {" 12", false, 12},
      {"\t12", false, 12},
      {"12x", false, 12},
      {"12 ", false, 12},
      {"2147483647", true, INT32_MAX},
      {"2147483648", false, INT32_MAX},
      {"99999999999x", false, INT32_MAX},
      {"-2147483648", true, INT32_MIN},
      {"-2147483649", false, INT32_MIN},
      {"+7", true, 7},
      {"-0", true, 0},
      {"007", true, 7},
      {"+", false, 0},
      {"-", false, 0},
      {"+-1", false, 0},
      {"1.5", false, 1},
  };
  for (const IntCase& c : kCases) {
    int32_t value = -99;
    EXPECT_EQ(c.ok, StringToInt(c.text, &value)) << c.text;
    EXPECT_EQ(c.value, value) << c.text;
  }
}

// The boundaries of every width and of the hex parser are checked against
// Python's int() in tests/e2e/test_number_conversion.py.

TEST(StringNumberParsers, WideDigitsMustBeWholeAsciiUnits) {
  uint32_t value = 0;
  // U+0131 has '1' as its low byte; U+FF11 is a full-width 1.
  EXPECT_FALSE(WideStringToUint(std::wstring(L"2") + wchar_t{0x0131}, &value));
  EXPECT_EQ(2u, value);
  EXPECT_FALSE(WideStringToUint(std::wstring(1, wchar_t{0xFF11}), &value));
  EXPECT_EQ(0u, value);
  int64_t signed_value = 0;
  EXPECT_FALSE(WideStringToInt64(L" -5", &signed_value));
  EXPECT_EQ(-5, signed_value);
}

TEST(StringNumberParsers, HexStringToUInt64) {
  const struct {
    const char* text;
    bool ok;
    uint64_t value;
  } kCases[] = {
      {"0x", false, 0},
      {"0x1F", true, 31},
      {"0X1f", true, 31},
      {"FFFFFFFFFFFFFFFF", true, UINT64_MAX},
      {"FFFFFFFFFFFFFFFFF", false, UINT64_MAX},
      {"0000000000000000001", true, 1},
      {"-1", false, 0},
      {" a", false, 10},
  };
  for (const auto& c : kCases) {
    uint64_t value = 99;
    EXPECT_EQ(c.ok, HexStringToUInt64(c.text, &value)) << c.text;
    EXPECT_EQ(c.value, value) << c.text;
  }
}

TEST(StringNumberDouble, AcceptsOnlyWholeInRangeNumbers) {
  const double kInf = std::numeric_limits<double>::infinity();
  const struct {
    std::string text;
    bool ok;
    double value;
  } kCases[] = {
      {"1", true, 1},
      {" 1", false, 1},
      {"1 ", false, 1},
      {"1e", false, 1},
      {"", false, 0},
      {"x", false, 0},
      {"-2.5e-3", true, -0.0025},
      {"1e400", false, kInf},
      {"-1e400", false, -kInf},
      {"1e-400", false, 0},
      // The shortest subnormal, as the writer emits it, reads back.
      {"5e-324", true, 5e-324},
      {"Infinity", true, kInf},
      {"-INF", true, -kInf},
      {std::string("1\0"
                   "2",
                   3),
       false, 1},
  };
  for (const auto& c : kCases) {
    double value = 42;
    EXPECT_EQ(c.ok, StringToDouble(c.text, &value)) << c.text;
    EXPECT_EQ(c.value, value) << c.text;
  }
  double value = 0;
  EXPECT_TRUE(StringToDouble("nan", &value));
  EXPECT_TRUE(std::isnan(value));
}

TEST(StringNumberDouble, KeepsErrnoUnlessARangeErrorOccurs) {
  double value = 0;
  errno = EINVAL;
  EXPECT_TRUE(StringToDouble("1.5", &value));
  EXPECT_EQ(EINVAL, errno);
  EXPECT_FALSE(StringToDouble("1e999", &value));
  EXPECT_EQ(ERANGE, errno);
}

}  // namespace
}  // namespace base
