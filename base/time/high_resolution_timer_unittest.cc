#include "base/time/high_resolution_timer.h"

#include <windows.h>

#include <thread>
#include <vector>

#include "gtest/gtest.h"

namespace base {
namespace {

// The period functions run under the timer's lock, so plain counters do.
int g_begins = 0;
int g_ends = 0;
int g_overlaps = 0;
uint32_t g_last_period = 0;

void RecordBegin(uint32_t period_ms) {
  ++g_begins;
  g_last_period = period_ms;
  if (g_begins - g_ends != 1)
    ++g_overlaps;
}

void RecordEnd(uint32_t period_ms) {
  ++g_ends;
  g_last_period = period_ms;
  if (g_begins != g_ends)
    ++g_overlaps;
}

class HighResolutionTimerTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(0u, HighResolutionTimer::ActivationCountForTesting());
    g_begins = g_ends = g_overlaps = 0;
    g_last_period = 0;
    HighResolutionTimer::SetPeriodFunctionsForTesting(&RecordBegin,
                                                      &RecordEnd);
  }
  void TearDown() override {
    HighResolutionTimer::SetPeriodFunctionsForTesting(nullptr, nullptr);
  }
};

TEST_F(HighResolutionTimerTest, PeriodLastsWhileAnyActivationRemains) {
  struct Step {
    bool activating;
    int begins;
    int ends;
  };
  const Step kSteps[] = {
      {true, 1, 0},  {true, 1, 0},  {false, 1, 0}, {false, 1, 1},
      // An unmatched deactivation changes nothing.
      {false, 1, 1}, {true, 2, 1},  {false, 2, 2},
  };
  for (const Step& step : kSteps) {
    HighResolutionTimer::Activate(step.activating);
    EXPECT_EQ(step.begins, g_begins);
    EXPECT_EQ(step.ends, g_ends);
  }
  EXPECT_EQ(HighResolutionTimer::kPeriodMs, g_last_period);
  EXPECT_EQ(4u, g_last_period);
}

TEST_F(HighResolutionTimerTest, BeginsAndEndsPairAcrossThreads) {
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([] {
      for (int i = 0; i < 2000; ++i) {
        HighResolutionTimer::Activate(true);
        HighResolutionTimer::Activate(false);
      }
    });
  }
  for (std::thread& thread : threads)
    thread.join();
  EXPECT_EQ(0, g_overlaps);
  EXPECT_EQ(g_begins, g_ends);
  EXPECT_GE(g_begins, 1);
  EXPECT_EQ(0u, HighResolutionTimer::ActivationCountForTesting());
}

TEST(HighResolutionTimerSystemTest, RealPeriodSwitchesOnAndOff) {
  HighResolutionTimer::Activate(true);
  EXPECT_EQ(1u, HighResolutionTimer::ActivationCountForTesting());
  EXPECT_NE(nullptr, GetModuleHandleW(L"winmm.dll"));
  HighResolutionTimer::Activate(false);
  EXPECT_EQ(0u, HighResolutionTimer::ActivationCountForTesting());
}

}  // namespace
}  // namespace base
