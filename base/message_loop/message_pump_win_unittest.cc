#include "base/message_loop/message_pump_win.h"

#include <cstdint>
#include <limits>

#include "base/time/tick_time.h"
#include "base/time/time_delta.h"
#include "gtest/gtest.h"

namespace base {
namespace {

TEST(MessagePumpTest, DelayUntilWakeUpRoundsUpAndClamps) {
  const TickTime kNow = TickTime::FromInternalValue(1'000'000'000);
  struct Case {
    int64_t wake_up_minus_now_us;
    int32_t delay_ms;
  };
  const Case kCases[] = {
      {1, 1},  // A sub-millisecond wait must not become a busy 0.
      {999, 1},
      {1000, 1},
      {1001, 2},
      {31900, 32},
      {0, 0},
      {-1, 0},
      {-5'000'000, 0},
      {int64_t{3'000'000'000'000}, std::numeric_limits<int32_t>::max()},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.wake_up_minus_now_us);
    TickTime wake_up =
        kNow + TimeDelta::FromMicroseconds(c.wake_up_minus_now_us);
    EXPECT_EQ(c.delay_ms, MessagePumpWin::GetDelayUntil(wake_up, kNow));
  }
  EXPECT_EQ(-1, MessagePumpWin::GetDelayUntil(TickTime(), kNow));
}

}  // namespace
}  // namespace base
