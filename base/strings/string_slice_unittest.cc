#include "base/strings/string_slice.h"

#include <random>
#include <string>
#include <string_view>

#include "gtest/gtest.h"

namespace base {
namespace {

TEST(StringSliceTest, SubstrClampsToLength) {
  StringSlice s("hello");
  EXPECT_EQ("llo", s.Substr(2).AsString());
  EXPECT_EQ("el", s.Substr(1, 2).AsString());
  EXPECT_TRUE(s.Substr(9).empty());
  EXPECT_TRUE(StringSlice(static_cast<const char*>(nullptr)).empty());
  EXPECT_TRUE(StringSlice().Equals(StringSlice("")));
  EXPECT_FALSE(StringSlice("ab").Equals(StringSlice("abc")));
}

// The standard searches define the same results, including for empty sets,
// so random texts and sets (one byte takes the direct path, more the table)
// are checked against them.
TEST(StringSliceTest, SetSearchesAgreeWithStandardLibrary) {
  std::mt19937 random(1140);
  std::uniform_int_distribution<int> byte(0, 7);
  std::uniform_int_distribution<int> length(0, 12);
  auto make = [&](int n) {
    std::string s;
    for (int i = 0; i < n; ++i)
      s.push_back(static_cast<char>(byte(random) == 7 ? 0xE9 : 'a' + byte(random)));
    return s;
  };
  for (int round = 0; round < 3000; ++round) {
    const std::string text = make(length(random));
    const std::string set = make(round % 4 == 0 ? round % 3 : length(random) / 3);
    const std::string_view view(text);
    const StringSlice slice(text);
    ASSERT_EQ(view.find_first_not_of(set), slice.FindFirstNotOf(set))
        << text << " / " << set;
    ASSERT_EQ(view.find_last_of(set), slice.FindLastOf(set)) << text << " / " << set;
    ASSERT_EQ(view.find_last_not_of(set), slice.FindLastNotOf(set))
        << text << " / " << set;
  }
}

TEST(StringSliceTest, WideSetSearches) {
  const WideStringSlice text(L"\x3000 x\x00A0 ");
  EXPECT_EQ(2u, text.FindFirstNotOf(L"\x3000 "));
  EXPECT_EQ(3u, text.FindLastOf(L"\x00A0"));
  EXPECT_EQ(2u, text.FindLastNotOf(L"\x00A0 "));
}

}  // namespace
}  // namespace base
