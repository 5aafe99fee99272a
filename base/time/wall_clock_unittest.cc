#include "base/time/wall_clock.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

#include "base/time/tick_source.h"
#include "base/time/tick_time.h"
#include "gtest/gtest.h"

namespace base {
namespace {

// Both clocks are fakes here, since the test must move ticks by minutes.
std::atomic<int64_t> g_manual_ticks{0};
std::atomic<int64_t> g_manual_system_time{0};
std::atomic<int64_t> g_tick_offset{0};
std::atomic<int64_t> g_system_minus_ticks{0};
TickSource::NowFunction g_real_ticks = nullptr;

int64_t ManualTicks() {
  return g_manual_ticks.load();
}
int64_t ManualSystemTime() {
  return g_manual_system_time.load();
}
int64_t OffsetTicks() {
  return g_real_ticks() + g_tick_offset.load();
}
// A system clock that runs exactly with OffsetTicks.
int64_t SystemTimeFromTicks() {
  return OffsetTicks() + g_system_minus_ticks.load();
}

class TimeWallClockTest : public testing::Test {
 protected:
  void Install(TickSource::NowFunction ticks,
               WallClock::SystemTimeFunction system_time) {
    TickTime::Now();  // Settle the real source before replacing it.
    g_real_ticks = TickSource::SwapForTesting(ticks);
    real_system_time_ = WallClock::SwapSystemTimeForTesting(system_time);
  }
  void TearDown() override {
    if (!g_real_ticks)
      return;
    TickSource::SwapForTesting(g_real_ticks);
    WallClock::SwapSystemTimeForTesting(real_system_time_);
    g_real_ticks = nullptr;
    // The base holds fake readings; take one from the real clocks.
    Time::NowFromSystemClock();
  }

 private:
  WallClock::SystemTimeFunction real_system_time_ = nullptr;
};

TEST_F(TimeWallClockTest, RebasesOnlyAfterSixtySecondsOfTicks) {
  Install(&ManualTicks, &ManualSystemTime);
  const int64_t kBaseTicks = 5000000000;
  const int64_t kSystemTime = 13000000000000000;
  struct Case {
    int64_t tick_advance_us;
    bool rebases;
  };
  const Case kCases[] = {
      {0, false},
      {30000000, false},
      {60000000, false},
      {60000999, false},  // Still 60000 whole milliseconds.
      {60001000, true},
      {3600000000, true},
      // Ticks far below the base cannot be measured; the base is kept.
      {-4000000000, false},
  };
  for (const Case& c : kCases) {
    g_manual_ticks = kBaseTicks;
    g_manual_system_time = kSystemTime;
    ASSERT_EQ(kSystemTime, Time::NowFromSystemClock().ToInternalValue());
    g_manual_ticks = kBaseTicks + c.tick_advance_us;
    const int64_t expected =
        c.rebases ? kSystemTime : kSystemTime + c.tick_advance_us;
    EXPECT_EQ(expected, Time::Now().ToInternalValue()) << c.tick_advance_us;
  }
}

// The writer moves the ticks and the system clock together by 30 s before
// each rebase, so every consistent base gives the same time; a reader that
// combined the ticks of one base with the time of another would be 30 s off.
TEST_F(TimeWallClockTest, ConcurrentReadersNeverSeeATornBase) {
  Install(&OffsetTicks, &SystemTimeFromTicks);
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  g_system_minus_ticks =
      Time::FromFileTime(now).ToInternalValue() - OffsetTicks();
  Time::NowFromSystemClock();

  const int64_t kToleranceUs = 1000000;
  std::atomic<bool> stop{false};
  std::atomic<int> off_clock{0};
  std::atomic<int> backwards{0};
  std::atomic<int64_t> reads{0};
  std::vector<std::thread> readers;
  for (int t = 0; t < 4; ++t) {
    readers.emplace_back([&] {
      int64_t last = 0;
      while (!stop.load()) {
        const int64_t before = SystemTimeFromTicks();
        const int64_t time = Time::Now().ToInternalValue();
        const int64_t after = SystemTimeFromTicks();
        if (time < before - kToleranceUs || time > after + kToleranceUs)
          ++off_clock;
        if (time < last - kToleranceUs)
          ++backwards;
        last = time;
        ++reads;
      }
    });
  }
  // Counted, not timed: a busy machine gives the threads fewer turns in
  // any given time, and the readers must meet many rebases.
  constexpr int64_t kRebases = 50000;
  constexpr int64_t kReads = 50000;
  int64_t rebases = 0;
  while (rebases < kRebases || reads.load() < kReads) {
    g_tick_offset += 30000000;
    Time::NowFromSystemClock();
    ++rebases;
  }
  stop = true;
  for (std::thread& reader : readers)
    reader.join();
  EXPECT_EQ(0, off_clock.load());
  EXPECT_EQ(0, backwards.load());
}

}  // namespace
}  // namespace base
