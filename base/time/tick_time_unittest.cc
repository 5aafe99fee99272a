#include "base/time/tick_time.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

#include "base/cpu_info.h"
#include "base/time/low_resolution_tick_clock.h"
#include "base/time/multimedia_timer.h"
#include "base/time/tick_source.h"
#include "base/time/tsc.h"
#include "gtest/gtest.h"

namespace base {
namespace {

constexpr int64_t kMax = INT64_MAX;

TEST(TickTimeTest, ArithmeticSaturates) {
  const TickTime start = TickTime::FromInternalValue(1000);
  EXPECT_EQ(kMax, (start + TimeDelta::Max()).ToInternalValue());
  EXPECT_EQ(-kMax, (start - TimeDelta::Max() - TimeDelta::Max())
                       .ToInternalValue());
  EXPECT_TRUE((TickTime::FromInternalValue(kMax) -
               TickTime::FromInternalValue(-5))
                  .is_max());
}

TEST(TickTimeTest, AdvancesWithRealTime) {
  const TickTime before = TickTime::Now();
  Sleep(50);
  const TimeDelta elapsed = TickTime::Now() - before;
  EXPECT_GE(elapsed.InMilliseconds(), 40);
}

// Every reading a thread takes must not be earlier than any reading another
// thread had published before it.
TEST(TickTimeTest, MonotonicAcrossThreads) {
  std::atomic<int64_t> latest{TickTime::Now().ToInternalValue()};
  std::atomic<int> regressions{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 20000; ++i) {
        int64_t seen = latest.load();
        int64_t now = TickTime::Now().ToInternalValue();
        if (now < seen)
          ++regressions;
        while (seen < now && !latest.compare_exchange_weak(seen, now)) {
        }
      }
    });
  }
  for (std::thread& thread : threads)
    thread.join();
  EXPECT_EQ(0, regressions.load());
}

TEST(TickTimeTest, CounterConversionIsExactOnBothSidesOfTheSplit) {
  const int64_t kFrequencies[] = {1000000, 3579545, 10000000, 2400000000};
  const int64_t kCounters[] = {0,           1,          999999,
                               0x8637BD05AF6, 0x8637BD05AF7, 0x8637BD05AF8,
                               123456789012345678, kMax - 1, kMax};
  for (int64_t frequency : kFrequencies) {
    for (int64_t counter : kCounters) {
      const __int128 expected =
          static_cast<__int128>(counter) * 1000000 / frequency;
      EXPECT_EQ(static_cast<int64_t>(expected),
                TickSource::CounterToMicroseconds(counter, frequency))
          << counter << " at " << frequency;
    }
  }
}

TEST(TickTimeTest, UsableInvariantTscRules) {
  struct Case {
    const char* vendor;
    int32_t family;
    int32_t ext_family;
    bool invariant;
    bool usable;
  };
  const Case kCases[] = {
      {"GenuineIntel", 6, 0, true, true},   {"GenuineIntel", 6, 0, false, false},
      {"AuthenticAMD", 15, 0, true, false}, {"AuthenticAMD", 15, 0, false, false},
      // Later parts of the vendor report base family 15 with an extended one.
      {"AuthenticAMD", 15, 8, true, true},  {"AuthenticAMD", 16, 0, true, true},
      // The exclusion needs the whole 12-character vendor.
      {"AuthenticAMDx", 15, 0, true, true}, {"Authentic", 15, 0, true, true},
      {"", 15, 0, true, true},
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(c.usable, IsUsableInvariantTsc(c.vendor, c.family, c.ext_family, c.invariant))
        << c.vendor << " " << c.family << " " << c.ext_family;
  }
  const CpuInfo cpu;
  EXPECT_EQ(IsUsableInvariantTsc(cpu.vendor(), cpu.family(), cpu.ext_family(),
                                 cpu.has_invariant_tsc()),
            HasUsableInvariantTsc());
}

TEST(TickTimeTest, TscRateIsMeasuredOnceEnoughTimePassed) {
  MeasureTscTicksPerSecond();
  Sleep(60);
  const double rate = MeasureTscTicksPerSecond();
  // Any processor of the last decades counts between 100 MHz and 10 GHz.
  EXPECT_GT(rate, 1e8);
  EXPECT_LT(rate, 1e10);
  Sleep(10);
  EXPECT_EQ(rate, MeasureTscTicksPerSecond());
}

TEST(TickTimeTest, MultimediaTimerCountsLikeTheTickCount) {
  // Bracketed by two tick counts, so a pause between the reads cannot make
  // the clocks look apart; the slack covers their different granularity.
  constexpr uint32_t kSlackMs = 100;
  const uint32_t before = GetTickCount();
  const uint32_t multimedia = MultimediaTimer::GetTime();
  const uint32_t after = GetTickCount();
  EXPECT_LE(static_cast<uint32_t>(multimedia - before + kSlackMs),
            static_cast<uint32_t>(after - before + 2 * kSlackMs));
}

// Scripted readings of the wrapping millisecond counter, with the clock's
// expected milliseconds after each.
struct ScriptStep {
  uint32_t reading;
  int64_t expected_ms;
};
constexpr ScriptStep kScript[] = {
    {0x00000010, 0x10},
    {0x7F000000, 0x7F000000},
    {0xFFFFFFFF, 0xFFFFFFFF},
    {0x00000005, 0x100000005},  // First wrap.
    {0x00FFFFFF, 0x100FFFFFF},  // Same top byte: the state stays.
    {0x01000000, 0x101000000},
    {0xFE000000, 0x1FE000000},
    {0x00000000, 0x200000000},  // Second wrap.
};
size_t g_script_position = 0;

uint32_t ScriptedReading() {
  return kScript[g_script_position++].reading;
}

TEST(TickTimeTest, LowResolutionClockContinuesAcrossTheWrap) {
  g_script_position = 0;
  LowResolutionTickClock clock(&ScriptedReading);
  for (const ScriptStep& step : kScript)
    EXPECT_EQ(step.expected_ms * 1000, clock.Now()) << std::hex << step.reading;
}

// The true 64-bit count behind the wrapping counter, and the value each
// thread last read from it.
std::atomic<uint64_t> g_true_count{0};
thread_local uint64_t t_last_true_count = 0;
constexpr uint64_t kCountStep = 0x10;

uint32_t SharedReading() {
  t_last_true_count = g_true_count.fetch_add(kCountStep);
  return static_cast<uint32_t>(t_last_true_count);
}

TEST(TickTimeTest, LowResolutionClockLosesNoWrapAcrossThreads) {
  g_true_count = 0xFFFF0000;
  LowResolutionTickClock clock(&SharedReading);
  std::atomic<int> mismatches{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 50000; ++i) {
        int64_t now = clock.Now();
        if (now != static_cast<int64_t>(t_last_true_count) * 1000)
          ++mismatches;
      }
    });
  }
  for (std::thread& thread : threads)
    thread.join();
  EXPECT_EQ(0, mismatches.load());
  EXPECT_GT(g_true_count.load(), 0x100000000u);  // The run crossed the wrap.
}

}  // namespace
}  // namespace base
