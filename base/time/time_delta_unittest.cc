#include "base/time/time_delta.h"

#include <cstdint>
#include <limits>

#include "gtest/gtest.h"

namespace base {
namespace {

constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
constexpr int64_t kMin = std::numeric_limits<int64_t>::min();

TEST(TimeDeltaTest, ConstructionSaturatesAtBothEnds) {
  struct Case {
    TimeDelta delta;
    int64_t expected_us;
  };
  const Case kCases[] = {
      {TimeDelta(), 0},
      {TimeDelta::FromMilliseconds(9223372036854775), 9223372036854775000},
      {TimeDelta::FromMilliseconds(9223372036854776), kMax},
      {TimeDelta::FromMilliseconds(-9223372036854775), -9223372036854775000},
      {TimeDelta::FromMilliseconds(-9223372036854776), -kMax},
      {TimeDelta::FromMilliseconds(kMin), -kMax},
      {TimeDelta::FromSeconds(9223372036854), 9223372036854000000},
      {TimeDelta::FromSeconds(9223372036855), kMax},
      {TimeDelta::FromSeconds(-9223372036855), -kMax},
      {TimeDelta::FromMicroseconds(kMin), -kMax},
      {TimeDelta::Max(), kMax},
      {TimeDelta::Min(), -kMax},
  };
  for (const Case& c : kCases)
    EXPECT_EQ(c.expected_us, c.delta.InMicroseconds());
}

TEST(TimeDeltaTest, ArithmeticSaturatesByTheSignOfTheOperand) {
  const TimeDelta one = TimeDelta::FromMicroseconds(1);
  struct Case {
    TimeDelta result;
    TimeDelta expected;
  };
  const Case kCases[] = {
      {TimeDelta::Max() + one, TimeDelta::Max()},
      {TimeDelta::Min() - one, TimeDelta::Min()},
      {TimeDelta::Min() + -one, TimeDelta::Min()},
      {TimeDelta::Max() - -one, TimeDelta::Max()},
      {TimeDelta::Max() - TimeDelta::Min(), TimeDelta::Max()},
      {TimeDelta::Min() - TimeDelta::Max(), TimeDelta::Min()},
      {TimeDelta::Min() + TimeDelta::Min(), TimeDelta::Min()},
      {TimeDelta::Max() - one, TimeDelta::FromMicroseconds(kMax - 1)},
      {TimeDelta::Max() + TimeDelta::Min(), TimeDelta()},
      {-TimeDelta::Max(), TimeDelta::Min()},
      {-TimeDelta::Min(), TimeDelta::Max()},
      {TimeDelta::Max() * 2, TimeDelta::Max()},
      {TimeDelta::Max() * -2, TimeDelta::Min()},
      {TimeDelta::Min() * 2, TimeDelta::Min()},
      {TimeDelta::Min() * -1, TimeDelta::Max()},
      {TimeDelta::FromSeconds(3) * -4, TimeDelta::FromSeconds(-12)},
      {TimeDelta::FromMicroseconds(kMax / 2 + 1) * 2, TimeDelta::Max()},
  };
  for (size_t i = 0; i < std::size(kCases); ++i) {
    EXPECT_EQ(kCases[i].expected.InMicroseconds(),
              kCases[i].result.InMicroseconds())
        << "case " << i;
  }
}

TEST(TimeDeltaTest, MillisecondConversionsRoundAsDocumented) {
  struct Case {
    int64_t us;
    int64_t truncated_ms;
    int64_t rounded_up_ms;
  };
  const Case kCases[] = {
      {0, 0, 0},
      {1, 0, 1},
      {999, 0, 1},
      {1000, 1, 1},
      {1001, 1, 2},
      {1999, 1, 2},
      {-1, 0, 0},
      {-1500, -1, -1},
      {-2000, -2, -2},
      {kMax, kMax, kMax},
      {-kMax, -9223372036854775, -9223372036854775},
      {kMax - 1, 9223372036854775, 9223372036854776},
  };
  for (const Case& c : kCases) {
    const TimeDelta delta = TimeDelta::FromMicroseconds(c.us);
    EXPECT_EQ(c.truncated_ms, delta.InMilliseconds()) << c.us;
    EXPECT_EQ(c.rounded_up_ms, delta.InMillisecondsRoundedUp()) << c.us;
  }
  EXPECT_DOUBLE_EQ(-1.5, TimeDelta::FromMicroseconds(-1500000).InSecondsF());
}

}  // namespace
}  // namespace base
