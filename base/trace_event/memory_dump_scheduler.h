#ifndef BASE_TRACE_EVENT_MEMORY_DUMP_SCHEDULER_H_
#define BASE_TRACE_EVENT_MEMORY_DUMP_SCHEDULER_H_

#include <cstdint>

#include "base/ref_counted.h"
#include "base/task_runner.h"
#include "base/timer/timer.h"

namespace base {

class MemoryDumpManager;

// Asks the memory-dump manager for dumps while tracing: periodically, on a
// repeating timer on the thread that starts it, and on memory peaks found by
// polling the providers' fast totals on the dump thread. Made per tracing
// period by the manager, from the configuration's triggers.
class MemoryDumpScheduler {
 public:
  static constexpr uint32_t kDefaultPollingIntervalMs = 25;
  // A rise of more than this since the last peak dump makes the next one.
  static constexpr int64_t kPeakIncreaseBytes = 50 * 1024 * 1024;

  MemoryDumpScheduler(MemoryDumpManager* manager,
                      RefPtr<SequencedTaskRunner> polling_task_runner);
  MemoryDumpScheduler(const MemoryDumpScheduler&) = delete;
  MemoryDumpScheduler& operator=(const MemoryDumpScheduler&) = delete;
  ~MemoryDumpScheduler();

  // A trigger of the trace configuration: a periodic one sets the light
  // (level 1) or heavy (level 2) period and lowers the timer's period; a
  // peak one turns polling on at that level. A zero period is refused
  // (logged): the rates divide by it and the timer would spin.
  bool AddTrigger(uint32_t trigger_type, int level_of_detail,
                  uint32_t period_ms);

  void NotifyPeriodicTriggerSupported();
  void NotifyPollingSupported();
  void DisablePeriodicTrigger();
  // Posts itself to the polling thread when called elsewhere.
  void DisablePolling();

  // One polling interval for every scheduler made afterwards; 0 is refused
  // (logged), as the polls would spin and the poll count divide by it.
  static bool SetPollingIntervalOverride(uint32_t interval_ms);

  // The level of the next periodic dump; counts the tick.
  int NextPeriodicDumpLevel();
  // Whether a poll that found `total` bytes makes a peak dump; counts the
  // poll.
  bool ShouldTriggerPeakDump(uint64_t total);

  bool IsPeriodicTimerRunning() const { return timer_.IsRunning(); }
  uint32_t min_period_ms() const { return min_period_ms_; }
  uint32_t light_dump_rate() const { return light_dump_rate_; }
  uint32_t heavy_dump_rate() const { return heavy_dump_rate_; }
  int32_t min_polls_between_dumps() const { return min_polls_between_dumps_; }

 private:
  void RequestPeriodicGlobalDump();
  void PollMemoryOnPollingThread();

  MemoryDumpManager* const manager_;

  bool periodic_enabled_ = false;
  Timer timer_;
  uint32_t dump_count_ = 0;
  uint32_t min_period_ms_ = UINT32_MAX;
  uint32_t light_dump_rate_ = 0;
  uint32_t heavy_dump_rate_ = 0;
  uint32_t light_period_ms_ = 0;
  uint32_t heavy_period_ms_ = 0;

  bool polling_enabled_ = false;
  bool polling_started_ = false;
  int polling_level_ = 0;
  RefPtr<SequencedTaskRunner> polling_task_runner_;
  const uint32_t polling_interval_ms_;
  int32_t min_polls_between_dumps_ = 0;
  int32_t polls_since_last_dump_ = 0;
  // 0: no peak dump yet.
  uint64_t last_dump_memory_total_ = 0;
};

}  // namespace base

#endif  // BASE_TRACE_EVENT_MEMORY_DUMP_SCHEDULER_H_
