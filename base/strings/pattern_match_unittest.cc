#include "base/strings/pattern_match.h"

#include <string>

#include "gtest/gtest.h"

namespace base {
namespace {

TEST(PatternMatchTest, Wildcards) {
  const struct {
    const char* text;
    const char* pattern;
    bool matches;
  } kCases[] = {
      {"abc", "a*c", true},        {"abc", "a?c", true},
      {"abc", "ab?c", true},       {"abc", "*", true},
      {"abc", "???", true},        {"ac", "a*b", false},
      {"", "", true},              {"", "*?*", true},
      {"a", "", false},            {"abc", "abcd", false},
      {"abc", "*c", true},         {"abc", "*b", false},
      {"abcabc", "*abc", true},    {"abc", "a*?", true},
      {"abc", "??", false},        {"a*c", "a\\*c", true},
      {"abc", "a\\*c", false},     {"a?c", "a\\?c", true},
      {"a\\b", "a\\\\b", true},
      // Code points, not bytes: "?" takes a whole UTF-8 sequence.
      {"x\xC3\xA9y", "x?y", true}, {"\xE2\x82\xAC", "?", true},
      {"\xE2\x82\xAC" "1", "\xE2\x82\xAC?", true},
      // Malformed bytes equal nothing, not even themselves.
      {"\xFF", "\xFF", false},     {"\xFF", "?", true},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(c.matches, MatchPatternUtf8(c.text, c.pattern))
        << "'" << c.text << "' vs '" << c.pattern << "'";
  }
}

TEST(PatternMatchTest, TrailingBackslashIsLiteral) {
  EXPECT_TRUE(MatchPatternUtf8("dir\\", "dir\\"));
  EXPECT_TRUE(MatchPatternUtf8("dir\\", "*\\"));
  EXPECT_FALSE(MatchPatternUtf8("dir", "dir\\"));
  EXPECT_FALSE(MatchPatternUtf8("dirx", "dir\\"));
  // The pattern slice ends at the backslash; what follows in memory must
  // not be read as the escaped character.
  const std::string buffer = "a\\*";
  EXPECT_FALSE(MatchPatternUtf8("a*", StringSlice(buffer.data(), 2)));
  EXPECT_TRUE(MatchPatternUtf8("a\\", StringSlice(buffer.data(), 2)));
}

TEST(PatternMatchTest, RecursionDepthIsBoundedAtSixteen) {
  EXPECT_TRUE(MatchPatternUtf8("x", std::string(16, '?') + "x"));
  EXPECT_FALSE(MatchPatternUtf8("x", std::string(17, '?') + "x"));
  // A long text against a star stays linear in the nesting it needs.
  EXPECT_TRUE(MatchPatternUtf8(std::string(100000, 'a') + "b", "*b"));
}

}  // namespace
}  // namespace base
