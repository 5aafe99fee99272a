#include "base/strings/string_util.h"

#include <random>
#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace base {
namespace {

TEST(StringUtilTest, WhitespaceSets) {
  EXPECT_EQ(6u, StringSlice(AsciiWhitespace).size());
  EXPECT_EQ(25u, WideStringSlice(UnicodeWhitespace).size());
}

TEST(StringUtilTest, TrimWideString) {
  const struct {
    const wchar_t* input;
    const wchar_t* output;
    TrimResult result;
  } kCases[] = {
      {L"", L"", TRIM_NONE},          {L"  ", L"", TRIM_ALL},
      {L" x", L"x", TRIM_LEADING},    {L"x\x3000", L"x", TRIM_TRAILING},
      {L"\t x \n", L"x", TRIM_ALL},   {L"a b", L"a b", TRIM_NONE},
      {L"\x2029" L"a\x202F", L"a", TRIM_ALL},
  };
  for (const auto& c : kCases) {
    std::wstring output = L"stale";
    EXPECT_EQ(c.result, TrimWideString(c.input, UnicodeWhitespace, &output));
    EXPECT_EQ(c.output, output);
    std::wstring in_place = c.input;
    TrimWideString(in_place, UnicodeWhitespace, &in_place);
    EXPECT_EQ(c.output, in_place);
  }
}

TEST(StringUtilTest, CollapseWhitespace) {
  const struct {
    const char* input;
    const char* output;
  } kCases[] = {
      {"", ""},
      {"   ", ""},
      {"  a  ", "a"},
      {"a \t b", "a b"},
      {"a \n b", "ab"},
      {"a\r\nb", "ab"},
      {"\na\n", "a"},
      {"a\n \tb c", "ab c"},
      {"a b\n", "a b"},
      {"x\xC2\xA0y", "x\xC2\xA0y"},
  };
  for (const auto& c : kCases)
    EXPECT_EQ(c.output, CollapseWhitespace(c.input)) << "'" << c.input << "'";
}

TEST(StringUtilTest, Join) {
  EXPECT_EQ("", JoinStrings({}, ","));
  EXPECT_EQ("a", JoinStrings({"a"}, ","));
  EXPECT_EQ("a, b, ", JoinStrings({"a", "b", ""}, ", "));
  EXPECT_EQ("ab", JoinStrings({"a", "b"}, ""));
  EXPECT_EQ(L"x\x00E9y", JoinWideStrings({L"x", L"y"}, L"\x00E9"));
}

// A plain forward scan, the meaning of non-overlapping replace-all.
std::string ReplaceAllReference(std::string text, size_t start,
                                const std::string& find,
                                const std::string& with) {
  std::string result = text.substr(0, start);
  size_t read = start;
  for (size_t m = text.find(find, start); m != std::string::npos;
       m = text.find(find, read)) {
    result += text.substr(read, m - read) + with;
    read = m + find.size();
  }
  return result + text.substr(read);
}

TEST(StringUtilTest, ReplaceAllAgreesWithForwardScanForEveryLengthRelation) {
  std::mt19937 random(42);
  auto make = [&](size_t n) {
    std::string s;
    for (size_t i = 0; i < n; ++i)
      s.push_back("ab_"[std::uniform_int_distribution<int>(0, 2)(random)]);
    return s;
  };
  for (int round = 0; round < 5000; ++round) {
    const std::string text = make(round % 17);
    const std::string find = make(1 + round % 3);
    const std::string with = make(round % 5);
    const size_t start = text.empty() ? 0 : round % (text.size() + 1);
    std::string actual = text;
    ReplaceSubstring(&actual, start, find, with, true);
    ASSERT_EQ(ReplaceAllReference(text, start, find, with), actual)
        << text << " [" << start << "] " << find << " -> " << with;
  }
}

TEST(StringUtilTest, ReplaceSubstringFirstAndEdges) {
  std::string text = "aXbXc";
  ReplaceSubstring(&text, 2, "X", "--", false);
  EXPECT_EQ("aXb--c", text);
  ReplaceSubstring(&text, 0, "missing", "!", true);
  EXPECT_EQ("aXb--c", text);
  // An overlapping case where searching backwards would pick other matches.
  text = "ababa_aba";
  ReplaceSubstring(&text, 0, "aba", "[long]", true);
  EXPECT_EQ("[long]ba_[long]", text);
  // An empty search text would never advance; it changes nothing.
  text = "abc";
  ReplaceSubstring(&text, 0, "", "x", true);
  ReplaceSubstring(&text, 0, "", "x", false);
  EXPECT_EQ("abc", text);
}

TEST(StringUtilTest, ReplaceCharsDoesNotRescanReplacement) {
  std::string output;
  EXPECT_TRUE(ReplaceChars("a/b\\c", "/\\", "\\\\", &output));
  EXPECT_EQ("a\\\\b\\\\c", output);
  EXPECT_FALSE(ReplaceChars("abc", "xy", "z", &output));
  EXPECT_EQ("abc", output);
  EXPECT_TRUE(ReplaceChars("aaa", "a", "", &output));
  EXPECT_EQ("", output);
}

TEST(StringUtilTest, CaseFoldsAsciiOnly) {
  EXPECT_EQ("abc-\xC3\x89z", ToLowerAsciiString("ABc-\xC3\x89Z"));
  EXPECT_EQ("ABC-\xC3\xA9Z", ToUpperAsciiString("abC-\xC3\xA9z"));
  EXPECT_TRUE(EqualsCaseInsensitiveAscii("HeLLo", "hEllO"));
  EXPECT_FALSE(EqualsCaseInsensitiveAscii("hello", "hell"));
  EXPECT_FALSE(EqualsCaseInsensitiveAscii("@", "`"));  // 0x40 vs 0x60.
  EXPECT_TRUE(WideLowerCaseEqualsAscii(L"HeLLo", "hello"));
  EXPECT_FALSE(WideLowerCaseEqualsAscii(L"hello", "HELLO"));
  EXPECT_FALSE(WideLowerCaseEqualsAscii(L"h\x0100", "h\x00"));
}

TEST(StringUtilTest, StartsAndEndsWithWide) {
  const struct {
    const wchar_t* text;
    const wchar_t* affix;
    int mode;
    bool starts;
    bool ends;
  } kCases[] = {
      {L"Hello", L"he", CASE_SENSITIVE, false, false},
      {L"Hello", L"He", CASE_SENSITIVE, true, false},
      {L"Hello", L"he", CASE_INSENSITIVE_ASCII, true, false},
      {L"Hello", L"LLO", CASE_INSENSITIVE_ASCII, false, true},
      {L"Hello", L"", CASE_SENSITIVE, true, true},
      {L"Hello", L"", CASE_INSENSITIVE_ASCII, true, true},
      {L"Hi", L"Hi!", CASE_INSENSITIVE_ASCII, false, false},
      {L"Hello", L"Hello", 2, false, false},
      {L"\x00C9t\x00C9", L"\x00E9", CASE_INSENSITIVE_ASCII, false, false},
  };
  for (const auto& c : kCases) {
    const CaseMode mode = static_cast<CaseMode>(c.mode);
    EXPECT_EQ(c.starts, StartsWithWide(c.text, c.affix, mode)) << c.text << c.affix;
    EXPECT_EQ(c.ends, EndsWithWide(c.text, c.affix, mode)) << c.text << c.affix;
  }
}

// The word-at-a-time checks read different bytes depending on alignment and
// length, so a single non-ASCII unit is placed at every position of every
// alignment.
TEST(StringUtilTest, AsciiChecksFindNonAsciiAtAnyAlignment) {
  alignas(8) char narrow[48];
  alignas(8) wchar_t wide[48];
  for (size_t offset = 0; offset < 8; ++offset) {
    for (size_t length = 0; length + offset <= 40; ++length) {
      std::fill(std::begin(narrow), std::end(narrow), 'a');
      std::fill(std::begin(wide), std::end(wide), L'a');
      // Bytes just outside the range must not count.
      narrow[offset + length] = '\x80';
      wide[offset + length] = 0x80;
      if (offset > 0) {
        narrow[offset - 1] = '\xFF';
        wide[offset - 1] = 0x100;
      }
      ASSERT_TRUE(IsNarrowAscii(narrow + offset, length));
      ASSERT_TRUE(IsWideAscii(wide + offset, length));
      for (size_t bad = 0; bad < length; ++bad) {
        narrow[offset + bad] = '\x80';
        wide[offset + bad] = bad % 2 ? 0x80 : 0xD800;
        ASSERT_FALSE(IsNarrowAscii(narrow + offset, length)) << offset << length << bad;
        ASSERT_FALSE(IsWideAscii(wide + offset, length)) << offset << length << bad;
        narrow[offset + bad] = 'a';
        wide[offset + bad] = L'a';
      }
    }
  }
  EXPECT_TRUE(IsStringAscii(std::wstring(L"plain \x7F")));
  EXPECT_FALSE(IsStringAscii(std::wstring(L"caf\x00E9")));
}

TEST(StringUtilTest, ResizeWideForWrite) {
  std::wstring text = L"abc";
  wchar_t* buffer = ResizeWideForWrite(&text, 6);
  EXPECT_EQ(5u, text.size());
  EXPECT_EQ(std::wstring(L"abc\0\0", 5), text);
  EXPECT_EQ(text.data(), buffer);
  buffer = ResizeWideForWrite(&text, 1);
  EXPECT_TRUE(text.empty());
  EXPECT_EQ(L'\0', buffer[0]);
  // Zero would wrap to a huge length; it is treated as room for the NUL only.
  buffer = ResizeWideForWrite(&text, 0);
  EXPECT_TRUE(text.empty());
  EXPECT_EQ(L'\0', buffer[0]);
}

}  // namespace
}  // namespace base
