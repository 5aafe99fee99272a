#include "base/trace_event/memory_dump_scheduler.h"

#include <cstdint>
#include <vector>

#include "base/message_loop/message_loop.h"
#include "base/trace_event/memory_dump_manager.h"
#include "base/trace_event/process_memory_dump.h"
#include "gtest/gtest.h"

namespace base {
namespace {

constexpr uint32_t kPeriodic = MemoryDumpManager::kDumpTypePeriodicInterval;
constexpr uint32_t kPeak = MemoryDumpManager::kDumpTypePeakMemoryUsage;
constexpr uint64_t kMiB = 1 << 20;

TEST(MemoryDumpSchedulerTest, PeriodicLevelsFollowTheRates) {
  struct Trigger {
    int level;
    uint32_t period_ms;
  };
  struct Case {
    std::vector<Trigger> triggers;
    uint32_t light_rate;
    uint32_t heavy_rate;
    std::vector<int> levels;
  };
  const Case cases[] = {
      {{{kDumpLevelLight, 250}, {kDumpLevelDetailed, 2000}},
       1,
       8,
       {2, 1, 1, 1, 1, 1, 1, 1, 2, 1, 1, 1, 1, 1, 1, 1, 2}},
      // A background trigger only sets the pace.
      {{{kDumpLevelDetailed, 1000},
        {kDumpLevelBackground, 250},
        {kDumpLevelLight, 500}},
       2,
       4,
       {2, 0, 1, 0, 2, 0, 1, 0, 2}},
      {{{kDumpLevelBackground, 100}}, 0, 0, {0, 0, 0}},
  };
  MessageLoop loop;  // The timer's runner; it is never run here.
  for (const Case& c : cases) {
    MemoryDumpScheduler scheduler(MemoryDumpManager::GetInstance(), nullptr);
    for (const Trigger& trigger : c.triggers)
      ASSERT_TRUE(scheduler.AddTrigger(kPeriodic, trigger.level,
                                       trigger.period_ms));
    scheduler.NotifyPeriodicTriggerSupported();
    EXPECT_TRUE(scheduler.IsPeriodicTimerRunning());
    EXPECT_EQ(c.light_rate, scheduler.light_dump_rate());
    EXPECT_EQ(c.heavy_rate, scheduler.heavy_dump_rate());
    std::vector<int> levels;
    for (size_t i = 0; i < c.levels.size(); ++i)
      levels.push_back(scheduler.NextPeriodicDumpLevel());
    EXPECT_EQ(c.levels, levels);
    scheduler.DisablePeriodicTrigger();
    EXPECT_FALSE(scheduler.IsPeriodicTimerRunning());
  }
}

TEST(MemoryDumpSchedulerTest, ZeroPeriodsAreRefused) {
  MemoryDumpScheduler scheduler(MemoryDumpManager::GetInstance(), nullptr);
  EXPECT_FALSE(scheduler.AddTrigger(kPeriodic, kDumpLevelLight, 0));
  EXPECT_FALSE(scheduler.AddTrigger(kPeak, kDumpLevelLight, 0));
  EXPECT_EQ(UINT32_MAX, scheduler.min_period_ms());
  // Nothing to time: no timer starts.
  MessageLoop loop;
  scheduler.NotifyPeriodicTriggerSupported();
  EXPECT_FALSE(scheduler.IsPeriodicTimerRunning());
  EXPECT_FALSE(MemoryDumpScheduler::SetPollingIntervalOverride(0));
}

TEST(MemoryDumpSchedulerTest, PeakDumpsNeedARiseAndEnoughPolls) {
  MemoryDumpScheduler scheduler(MemoryDumpManager::GetInstance(), nullptr);
  ASSERT_TRUE(scheduler.AddTrigger(kPeak, kDumpLevelDetailed, 1000));
  // 1000 ms at 25 ms a poll.
  EXPECT_EQ(40, scheduler.min_polls_between_dumps());

  EXPECT_FALSE(scheduler.ShouldTriggerPeakDump(0));
  // The first total after polling starts always triggers.
  EXPECT_TRUE(scheduler.ShouldTriggerPeakDump(100 * kMiB));
  int polls = 0;
  // A falling total never triggers, however long it falls.
  for (uint64_t total = 99 * kMiB; total > 10 * kMiB; total -= kMiB, ++polls)
    EXPECT_FALSE(scheduler.ShouldTriggerPeakDump(total));
  ASSERT_GE(polls, 40);
  // Just 50 MiB more is not a peak; more than that is.
  EXPECT_FALSE(scheduler.ShouldTriggerPeakDump(150 * kMiB));
  EXPECT_TRUE(scheduler.ShouldTriggerPeakDump(150 * kMiB + 1));
  // Then at least 40 polls pass before the next one.
  for (int i = 1; i < 40; ++i)
    EXPECT_FALSE(scheduler.ShouldTriggerPeakDump(1000 * kMiB * i)) << i;
  EXPECT_TRUE(scheduler.ShouldTriggerPeakDump(1000 * kMiB * 40));
}

}  // namespace
}  // namespace base
