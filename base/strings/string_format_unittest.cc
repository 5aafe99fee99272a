#include "base/strings/string_format.h"

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <string>

#include "gtest/gtest.h"

namespace base {
namespace {

// The appenders switch from a 1024-character local buffer to the heap; the
// lengths around that edge are where an off-by-one would cut or lose text.
TEST(FormatStringTest, LengthsAroundLocalBufferEdge) {
  for (size_t length : {0u, 1u, 1022u, 1023u, 1024u, 1025u, 2047u, 2048u, 100000u}) {
    const std::string expected(length, 'x');
    EXPECT_EQ(expected, FormatString("%s", expected.c_str())) << length;
    const std::wstring wide_expected(length, L'y');
    EXPECT_EQ(wide_expected, FormatWideString(L"%s", wide_expected.c_str())) << length;
  }
}

TEST(FormatStringTest, PaddedFieldsAcrossEdgeKeepEveryCharacter) {
  for (int width : {1021, 1022, 1023, 1024, 1025}) {
    const std::string narrow = FormatString("<%*d>", width, 7);
    ASSERT_EQ(static_cast<size_t>(width) + 2, narrow.size());
    EXPECT_EQ('<', narrow.front());
    EXPECT_EQ("7>", narrow.substr(narrow.size() - 2));
    const std::wstring wide = FormatWideString(L"<%*d>", width, 7);
    ASSERT_EQ(static_cast<size_t>(width) + 2, wide.size());
    EXPECT_EQ(L"7>", wide.substr(wide.size() - 2));
  }
}

TEST(FormatStringTest, WideFormatReadsPercentSAsWide) {
  EXPECT_EQ(L"wide|narrow|42", FormatWideString(L"%s|%hs|%d", L"wide", "narrow", 42));
  EXPECT_EQ(L"\x00E9t\x00E9", FormatWideString(L"%s", L"\x00E9t\x00E9"));
}

TEST(FormatStringTest, NarrowDirectives) {
  const size_t size = 123456789012345ull;
  const int64_t negative = -9000000000ll;
  EXPECT_EQ("123456789012345 -9000000000 ff 3.50 abc%",
            FormatString("%zu %lld %x %.2f %s%%", size,
                         static_cast<long long>(negative), 255, 3.5, "abc"));
}

TEST(FormatStringTest, TextAbove32MiCharactersIsNotProduced) {
  constexpr int kLimit = 32 * 1024 * 1024;
  std::string output = "keep";
  AppendFormat(&output, "%*s", kLimit, "");
  EXPECT_EQ("keep", output);
  AppendFormat(&output, "%*s", kLimit - 1, "");
  EXPECT_EQ(4u + kLimit - 1, output.size());
}

TEST(FormatStringTest, IntoStringReplacesAndAppendAppends) {
  std::string text = "old";
  EXPECT_EQ("n=5", FormatIntoString(&text, "n=%d", 5));
  AppendFormat(&text, ",%s", "more");
  EXPECT_EQ("n=5,more", text);
}

int CallFormatIntoBufferV(char* buffer, size_t size, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int result = FormatIntoBufferV(buffer, size, format, args);
  va_end(args);
  return result;
}

int CallFormatIntoWideBufferV(wchar_t* buffer, size_t size, const wchar_t* format,
                              ...) {
  va_list args;
  va_start(args, format);
  const int result = FormatIntoWideBufferV(buffer, size, format, args);
  va_end(args);
  return result;
}

TEST(FormatIntoBufferTest, CutsAtSizeMinusOneAndReportsFullLength) {
  const struct {
    size_t size;
    const char* narrow;
    const wchar_t* wide;
  } kCases[] = {
      {1, "", L""},         {2, "h", L"h"},         {5, "hell", L"hell"},
      {6, "hello", L"hello"}, {7, "hello", L"hello"}, {64, "hello", L"hello"},
  };
  for (const auto& c : kCases) {
    char narrow[64];
    std::fill(std::begin(narrow), std::end(narrow), '#');
    EXPECT_EQ(5, CallFormatIntoBufferV(narrow, c.size, "%s", "hello")) << c.size;
    EXPECT_STREQ(c.narrow, narrow) << c.size;
    wchar_t wide[64];
    std::fill(std::begin(wide), std::end(wide), L'#');
    EXPECT_EQ(5, CallFormatIntoWideBufferV(wide, c.size, L"%s", L"hello")) << c.size;
    EXPECT_STREQ(c.wide, wide) << c.size;
  }
}

TEST(FormatIntoBufferTest, SizeZeroWritesNothing) {
  char buffer[4] = {'#', '#', '#', '\0'};
  EXPECT_EQ(3, FormatIntoBuffer(buffer, 0, "%d", 123));
  EXPECT_STREQ("###", buffer);
  EXPECT_EQ(3, FormatIntoBuffer(buffer, sizeof(buffer), "%d", 123));
  EXPECT_STREQ("123", buffer);
}

}  // namespace
}  // namespace base
