#include "base/rand_util.h"

#include <climits>
#include <set>
#include <string>

#include "gtest/gtest.h"

namespace base {
namespace {

TEST(RandUtilTest, SingleValueRangeAlwaysGivesIt) {
  for (int i = 0; i < 100; ++i)
    EXPECT_EQ(5, RandomIntInRange(5, 5));
}

TEST(RandUtilTest, StaysInRangeAndIsRoughlyUniform) {
  constexpr int kMin = -3, kBuckets = 10, kDraws = 20000;
  int counts[kBuckets] = {};
  for (int i = 0; i < kDraws; ++i) {
    const int value = RandomIntInRange(kMin, kMin + kBuckets - 1);
    ASSERT_GE(value, kMin);
    ASSERT_LT(value, kMin + kBuckets);
    ++counts[value - kMin];
  }
  // About seven standard deviations either side of the expected 2000.
  for (int count : counts) {
    EXPECT_GT(count, 1700);
    EXPECT_LT(count, 2300);
  }
}

TEST(RandUtilTest, FullInt32RangeReachesBothSigns) {
  bool negative = false, positive = false;
  for (int i = 0; i < 200; ++i) {
    const int value = RandomIntInRange(INT_MIN, INT_MAX);
    negative |= value < 0;
    positive |= value > 0;
  }
  EXPECT_TRUE(negative && positive);
}

TEST(RandUtilDeathTest, ReversedRangeIsFatal) {
  EXPECT_DEATH(RandomIntInRange(2, 1), "min <= max");
}

// Python's uuid module checks the version and variant end to end.
TEST(RandUtilTest, GuidTextsAreVersion4AndDistinct) {
  std::set<std::string> seen;
  for (int i = 0; i < 1000; ++i) {
    const std::string guid = GenerateGuidText();
    ASSERT_EQ(36u, guid.size());
    EXPECT_EQ(std::string::npos, guid.find_first_not_of("0123456789abcdef-"));
    EXPECT_EQ('4', guid[14]) << guid;
    EXPECT_NE(std::string::npos, std::string("89ab").find(guid[19])) << guid;
    EXPECT_TRUE(seen.insert(guid).second) << guid;
  }
}

}  // namespace
}  // namespace base
