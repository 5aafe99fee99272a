#include "base/verbose_log_patterns.h"

#include "gtest/gtest.h"

namespace base {
namespace {

TEST(VerboseLogPatternsTest, GlobMatching) {
  const struct {
    const char* text;
    const char* pattern;
    bool expected;
  } kCases[] = {
      {"", "", true},
      {"a", "", false},
      {"", "a", false},
      {"", "*", true},
      {"abc", "abc", true},
      {"abc", "abd", false},
      {"abc", "ab", false},
      {"ab", "abc", false},
      {"abc", "a?c", true},
      {"ac", "a?c", false},
      {"axxb", "a*b", true},
      {"ab", "a*b", true},
      {"axx", "a*b", false},
      {"abxb", "a*b", true},
      {"abbc", "a**c", true},
      {"anything", "*", true},
      {"abc", "a*", true},
      {"abc", "*c", true},
      {"abc", "*b", false},
      {"a", "a*?", false},
      {"x/net/y.cc", "*/net/*", true},
      {"x\\net\\y.cc", "*/net/*", true},
      {"x/net/y.cc", "*\\net\\*", true},
      {"x/network/y.cc", "*/net/*", false},
      {"net/y.cc", "*/net/*", false},
      {"a?b", "a\\b", false},
      {"a/b", "a?b", true},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(c.expected, MatchesVerbosePattern(c.text, c.pattern))
        << "'" << c.text << "' against '" << c.pattern << "'";
  }
}

TEST(VerboseLogPatternsTest, LevelOfFirstMatchingPatternElseMinLevel) {
  const struct {
    const char* v;
    const char* vmodule;
    const char* file;
    int expected_level;
    int32_t expected_min_level;
  } kCases[] = {
      {"2", "", "src/anything.cc", 2, -2},
      {"", "foo=3", "src/foo.cc", 3, 0},
      {"", "foo=3", "src\\foo-inl.h", 3, 0},
      {"", "foo=3", "foo", 3, 0},
      {"", "foo=3", "src/foo.inl.cc", 0, 0},
      {"", "foo=3", "src/food.cc", 0, 0},
      {"", "foo=3", "foo/bar.cc", 0, 0},
      {"1", "foo=3", "src/bar.cc", 1, -1},
      {"", "*/net/*=2", "src\\net\\http.cc", 2, 0},
      {"", "*/net/*=2", "net.cc", 0, 0},
      // The pattern with a separator sees the whole path, extension included.
      {"", "src/foo=2", "src/foo.cc", 0, 0},
      {"", "src/foo.cc=2", "src\\foo.cc", 2, 0},
      {"", "first=1,f*=2", "first.cc", 1, 0},
      {"", "first=1,f*=2", "fast.cc", 2, 0},
      {"", "f*=2,first=1", "first.cc", 2, 0},
      {"", "x=2abc", "x.cc", 2, 0},
      {"", "x=abc", "x.cc", 0, 0},
      {"", "x=-1", "x.cc", -1, 0},
      {"abc", "", "x.cc", 0, 0},
      {"-1", "", "x.cc", -1, 1},
  };
  for (const auto& c : kCases) {
    int32_t min_level = 0;
    const VerboseLogPatterns patterns(c.v, c.vmodule, &min_level);
    EXPECT_EQ(c.expected_level, patterns.GetVerbosityLevel(c.file))
        << "v=" << c.v << " vmodule=" << c.vmodule << " file " << c.file;
    EXPECT_EQ(c.expected_min_level, min_level) << "v=" << c.v;
  }
}

TEST(VerboseLogPatternsTest, UnmatchedFilesFollowLaterMinLevelChanges) {
  int32_t min_level = 0;
  const VerboseLogPatterns patterns("", "foo=3", &min_level);
  min_level = -5;
  EXPECT_EQ(5, patterns.GetVerbosityLevel("bar.cc"));
  EXPECT_EQ(3, patterns.GetVerbosityLevel("foo.cc"));
}

}  // namespace
}  // namespace base
