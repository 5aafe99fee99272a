#include "base/strings/utf_string_conversions.h"

#include <windows.h>

#include <cstdint>
#include <random>
#include <string>

#include "base/strings/code_page_conversions.h"
#include "base/strings/utf_code_point.h"
#include "gtest/gtest.h"

namespace base {
namespace {

// The system's own converters, the peers on valid text.
std::wstring SystemUtf8ToWide(const std::string& utf8) {
  if (utf8.empty())
    return std::wstring();
  const int size = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(),
                                       static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(size, L'\0');
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(),
                      static_cast<int>(utf8.size()), wide.data(), size);
  return wide;
}

std::string SystemWideToUtf8(const std::wstring& wide) {
  if (wide.empty())
    return std::string();
  const int size = WideCharToMultiByte(CP_UTF8, 0, wide.data(),
                                       static_cast<int>(wide.size()), nullptr, 0,
                                       nullptr, nullptr);
  std::string utf8(size, '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                      utf8.data(), size, nullptr, nullptr);
  return utf8;
}

// Random well-formed UTF-16, encoded here independently of the code under
// test, drawing code points from every encoded-length class.
std::wstring RandomValidWide(std::mt19937* random, size_t code_points) {
  std::uniform_int_distribution<int> range_pick(0, 4);
  std::wstring wide;
  for (size_t i = 0; i < code_points; ++i) {
    uint32_t c = 0;
    switch (range_pick(*random)) {
      case 0:
      case 1:
        c = std::uniform_int_distribution<uint32_t>(0x01, 0x7F)(*random);
        break;
      case 2:
        c = std::uniform_int_distribution<uint32_t>(0x80, 0x7FF)(*random);
        break;
      case 3:
        c = std::uniform_int_distribution<uint32_t>(0x800, 0xFFFD - 0x800)(*random);
        if (c >= 0xD800)
          c += 0x800;  // Step over the surrogates.
        break;
      default:
        c = std::uniform_int_distribution<uint32_t>(0x10000, 0x10FFFF)(*random);
        break;
    }
    if (c < 0x10000) {
      wide.push_back(static_cast<wchar_t>(c));
    } else {
      wide.push_back(static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10)));
      wide.push_back(static_cast<wchar_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
    }
  }
  return wide;
}

TEST(UtfConversionTest, RandomValidTextAgreesWithSystemAndRoundTrips) {
  std::mt19937 random(20240611);
  for (int round = 0; round < 300; ++round) {
    const std::wstring wide = RandomValidWide(&random, round % 50 + round);
    const std::string expected_utf8 = SystemWideToUtf8(wide);

    std::string utf8;
    ASSERT_TRUE(ConvertUtf16ToUtf8(wide.data(), wide.size(), &utf8));
    ASSERT_EQ(expected_utf8, utf8) << "round " << round;

    std::wstring back;
    ASSERT_TRUE(ConvertUtf8ToUtf16(utf8.data(), utf8.size(), &back));
    ASSERT_EQ(wide, back) << "round " << round;
    ASSERT_EQ(SystemUtf8ToWide(utf8), back);
  }
}

TEST(UtfConversionTest, CodePageVariantsMatchCoreOnValidText) {
  std::mt19937 random(7);
  const std::wstring wide = RandomValidWide(&random, 2000);
  EXPECT_EQ(WideToUtf8(wide), WideToUtf8ViaCodePage(wide));
  EXPECT_EQ(wide, Utf8ToWideViaCodePage(WideToUtf8(wide)));
  EXPECT_EQ("", WideToUtf8ViaCodePage(L""));
  EXPECT_EQ(L"", Utf8ToWideViaCodePage(""));
}

struct MalformedUtf8Case {
  const char* name;
  std::string utf8;
  std::wstring wide;
};

TEST(UtfConversionTest, MalformedUtf8GivesOneReplacementPerSequence) {
  const MalformedUtf8Case kCases[] = {
      {"second byte not continuation", "\xC3\x28", L"\xFFFD("},
      {"truncated at end", "\xE2\x82", L"\xFFFD"},
      {"truncated before ASCII", "\xE2\x82" "A", L"\xFFFD" L"A"},
      {"overlong NUL", "\xC0\x80", L"\xFFFD"},
      {"overlong three-byte", "\xE0\x80\xAF", L"\xFFFD"},
      {"overlong four-byte", "\xF0\x8F\xBF\xBF", L"\xFFFD"},
      {"encoded surrogate", "\xED\xA0\x80", L"\xFFFD"},
      {"above U+10FFFF", "\xF4\x90\x80\x80", L"\xFFFD"},
      {"lone continuation", "\x80", L"\xFFFD"},
      {"continuation run", "\x80\xBF" "x", L"\xFFFD\xFFFD" L"x"},
      {"FE", "\xFE", L"\xFFFD"},
      {"FF between letters", "a\xFF" "b", L"a\xFFFD" L"b"},
      {"five-byte form", "\xF8\x88\x80\x80\x80" "z", L"\xFFFD" L"z"},
      {"six-byte form", "\xFC\x84\x80\x80\x80\x80", L"\xFFFD"},
      {"truncated five-byte", "\xF8\x88\x80", L"\xFFFD"},
      {"bad third byte keeps next", "\xF0\x9F\x41\x80", L"\xFFFD" L"A\xFFFD"},
      {"lead then lead", "\xC3\xC3\xA9", L"\xFFFD\x00E9"},
  };
  for (const auto& c : kCases) {
    std::wstring wide;
    EXPECT_FALSE(ConvertUtf8ToUtf16(c.utf8.data(), c.utf8.size(), &wide)) << c.name;
    EXPECT_EQ(c.wide, wide) << c.name;
  }
}

TEST(UtfConversionTest, EdgeScalarsConvertWithoutReplacement) {
  const struct {
    std::string utf8;
    std::wstring wide;
  } kCases[] = {
      {"\xEF\xBF\xBE", L"\xFFFE"},  // A noncharacter is still converted.
      {"\xC2\x80", L"\x0080"},
      {"\xDF\xBF", L"\x07FF"},
      {"\xE0\xA0\x80", L"\x0800"},
      {"\xED\x9F\xBF", L"\xD7FF"},
      {"\xEE\x80\x80", L"\xE000"},
      {"\xF0\x90\x80\x80", L"\xD800\xDC00"},
      {"\xF4\x8F\xBF\xBF", L"\xDBFF\xDFFF"},
      {std::string("a\0b", 3), std::wstring(L"a\0b", 3)},
  };
  for (const auto& c : kCases) {
    std::wstring wide;
    EXPECT_TRUE(ConvertUtf8ToUtf16(c.utf8.data(), c.utf8.size(), &wide));
    EXPECT_EQ(c.wide, wide);
    std::string utf8;
    EXPECT_TRUE(ConvertUtf16ToUtf8(c.wide.data(), c.wide.size(), &utf8));
    EXPECT_EQ(c.utf8, utf8);
  }
}

TEST(UtfConversionTest, UnpairedSurrogatesBecomeReplacement) {
  const struct {
    std::wstring wide;
    std::string utf8;
  } kCases[] = {
      {L"\xD800" L"A", "\xEF\xBF\xBD" "A"},
      {L"\xDC00", "\xEF\xBF\xBD"},
      {L"x\xD800", "x\xEF\xBF\xBD"},
      {L"\xDC00\xD800", "\xEF\xBF\xBD\xEF\xBF\xBD"},
      {L"\xD800\xD800\xDC00", "\xEF\xBF\xBD\xF0\x90\x80\x80"},
  };
  for (const auto& c : kCases) {
    std::string utf8;
    EXPECT_FALSE(ConvertUtf16ToUtf8(c.wide.data(), c.wide.size(), &utf8));
    EXPECT_EQ(c.utf8, utf8);
  }
  EXPECT_EQ("\xF0\x9F\x98\x80", WideToUtf8(L"\xD83D\xDE00"));
}

TEST(UtfConversionTest, ConvertersAppend) {
  std::wstring wide = L"ab";
  ConvertUtf8ToUtf16("\xC3\xA9", 2, &wide);
  EXPECT_EQ(L"ab\x00E9", wide);
  std::string utf8 = "ab";
  ConvertUtf16ToUtf8(L"c", 1, &utf8);
  EXPECT_EQ("abc", utf8);
}

TEST(UtfConversionTest, AsciiHelpersCopyUnitForUnit) {
  EXPECT_EQ(L"Hello, World!", AsciiToWide("Hello, World!"));
  EXPECT_EQ("Hello", WideToAscii(L"Hello"));
  EXPECT_EQ(L"", AsciiToWide(""));
}

TEST(UtfCodePointTest, ReadStopsAtTheRightByte) {
  const struct {
    std::string text;
    int32_t code_point;
    size_t index_after;
  } kCases[] = {
      {"\xC3\xA9!", 0xE9, 2},
      {"\xF0\x9F\x98\x80!", 0x1F600, 4},
      {"\xC3(", kInvalidCodePoint, 1},
      {"\xE2\x82", kInvalidCodePoint, 2},
      {"\xF4\x90\x80\x80!", kInvalidCodePoint, 4},
      {"\xED\xA0\x80!", kInvalidCodePoint, 3},
      {"\xF8\x80\x80\x80\x80\x80!", kInvalidCodePoint, 5},
      {"\x80\x80", kInvalidCodePoint, 1},
  };
  for (const auto& c : kCases) {
    size_t index = 1;
    EXPECT_EQ(c.code_point,
              ReadCodePointUtf8(c.text.data(), &index, c.text.size(),
                                static_cast<uint8_t>(c.text[0])))
        << c.text;
    EXPECT_EQ(c.index_after, index) << c.text;
  }
}

TEST(UtfCodePointTest, WritersAgreeWithSystemEncoder) {
  for (int32_t c : {0x00, 0x7F, 0x80, 0x7FF, 0x800, 0xFFFF, 0x10000, 0x1F600,
                    0x10FFFF}) {
    std::wstring wide;
    const int units = WriteCodePointUtf16(c, &wide);
    EXPECT_EQ(c < 0x10000 ? 1 : 2, units);
    std::string utf8;
    const int bytes = WriteCodePointUtf8(c, &utf8);
    EXPECT_EQ(static_cast<int>(utf8.size()), bytes);
    EXPECT_EQ(SystemWideToUtf8(wide), utf8) << std::hex << c;
  }
}

TEST(UtfCodePointTest, IsValidCodePointExcludesSurrogatesAndNoncharacters) {
  const struct {
    int32_t code_point;
    bool valid;
  } kCases[] = {
      {0, true},           {0xD7FF, true},     {0xD800, false},
      {0xDFFF, false},     {0xE000, true},     {0xFDCF, true},
      {0xFDD0, false},     {0xFDEF, false},    {0xFDF0, true},
      {0xFFFD, true},      {0xFFFE, false},    {0xFFFF, false},
      {0x1FFFE, false},    {0x10FFFD, true},   {0x10FFFF, false},
      {0x110000, false},   {-1, false},
  };
  for (const auto& c : kCases)
    EXPECT_EQ(c.valid, IsValidCodePoint(c.code_point)) << std::hex << c.code_point;
}

}  // namespace
}  // namespace base
