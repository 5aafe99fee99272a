#ifndef BASE_METRICS_THREAD_TALLY_H_
#define BASE_METRICS_THREAD_TALLY_H_

#include <cstdint>
#include <string>
#include <unordered_map>

#include "base/location.h"
#include "base/strings/string_slice.h"
#include "base/threading/lock.h"

namespace base {

class PostedTask;
class TaskStopwatch;
class ThreadTally;
struct ThreadHeapUsage;

// Task tracking: per-thread tallies of where tasks were posted from (births)
// and how they waited and ran (deaths). It starts when the first thread is
// named and stays on for the life of the process.

// Where tasks were posted from, and how many: one per posting site and
// posting thread.
struct TaskBirth {
  SourceLocation location;
  // The posting thread's tally.
  ThreadTally* tally = nullptr;
  int32_t count = 0;
};

// How the tasks of one birth ran on one thread. Durations in milliseconds.
// Counts and sums stop at 0x7fffffff.
struct TaskDeathData {
  static constexpr int32_t kSaturated = 0x7fffffff;

  // Durations below zero count as zero. `random` picks the sample: each
  // task replaces it with probability 1 / `sample_count`.
  void RecordDeath(int32_t queue_duration_ms, int32_t run_duration_ms,
                   uint32_t random);
  // Counters above 0x7fffffff count as 0x7fffffff.
  void RecordHeapUsage(const ThreadHeapUsage& usage);

  int32_t count = 0;
  int32_t sample_count = 0;
  int32_t run_duration_sum = 0;
  int32_t queue_duration_sum = 0;
  int32_t run_duration_max = 0;
  int32_t queue_duration_max = 0;
  int32_t alloc_ops = 0;
  int32_t free_ops = 0;
  int32_t allocated_bytes = 0;
  int32_t freed_bytes = 0;
  int32_t alloc_overhead_bytes = 0;
  int32_t max_allocated_bytes = 0;
  int32_t run_duration_sample = 0;
  int32_t queue_duration_sample = 0;
};

// One thread's births and deaths. Written only by its thread; insertions
// take the tally's lock so that other threads may read under it. Tallies are
// never freed: a thread's tally is retired at its end and given to a later
// thread of the same name.
// Aligned to a cache line: the tallies of a posting and a running thread
// must not share one, as each writes its own on every task.
class alignas(64) ThreadTally {
 public:
  explicit ThreadTally(std::string name);
  ThreadTally(const ThreadTally&) = delete;
  ThreadTally& operator=(const ThreadTally&) = delete;

  const std::string& name() const { return name_; }

  TaskBirth* RegisterBirth(const SourceLocation& location);
  void TallyDeath(const TaskBirth* birth, int32_t queue_duration_ms,
                  const TaskStopwatch& stopwatch);

  // For readers on any thread. The birth of `location` (null when absent),
  // and a copy of a birth's death data (false when absent).
  const TaskBirth* FindBirth(const SourceLocation& location);
  bool GetDeathData(const TaskBirth* birth, TaskDeathData* data);

  // The innermost running stopwatch of the thread.
  TaskStopwatch* current_stopwatch() const { return current_stopwatch_; }
  void set_current_stopwatch(TaskStopwatch* stopwatch) {
    current_stopwatch_ = stopwatch;
  }

 private:
  friend class ThreadTallyList;

  struct LocationHash {
    size_t operator()(const SourceLocation& location) const;
  };
  struct LocationEqual {
    bool operator()(const SourceLocation& a, const SourceLocation& b) const;
  };

  ThreadTally* next_ = nullptr;
  ThreadTally* next_retired_ = nullptr;
  const std::string name_;
  std::unordered_map<SourceLocation, TaskBirth, LocationHash, LocationEqual>
      births_;
  std::unordered_map<const TaskBirth*, TaskDeathData> deaths_;
  Lock map_lock_;
  // Picks the sampled deaths.
  uint32_t random_ = 0;
  // -1 until listed.
  uint32_t incarnation_ = static_cast<uint32_t>(-1);
  TaskStopwatch* current_stopwatch_ = nullptr;
  // The last lookups: a thread mostly posts from, and runs tasks of, the
  // same few places in a row.
  TaskBirth* last_birth_ = nullptr;
  const TaskBirth* last_death_birth_ = nullptr;
  TaskDeathData* last_death_data_ = nullptr;
};

// The task-tracking status: below 2 not started, 3 active. Posted tasks
// register their birth only above 2.
int GetTaskTrackingStatus();

// The calling thread's tally (one named "WorkerThread-*" when it has none),
// or null while task tracking has not started.
ThreadTally* GetOrCreateThreadTally();

// The birth record of tasks posted from `location`; null without a tally.
TaskBirth* RegisterTaskBirth(ThreadTally* tally,
                             const SourceLocation& location);

// Starts task tracking, and gives the calling thread a tally under its name
// with trailing digits folded into "*" ("WorkerThread-12" becomes
// "WorkerThread-*") unless it has one. Nothing while the thread runs a
// worker-pool task.
void InitThreadTally(StringSlice thread_name);

// Milliseconds on the task-tracking clock, reduced to 32 bits; 0 while
// tracking has not started or the switch "profiler-timing" is "0".
uint32_t GetTaskTrackingTimeMs();

// Tallies a finished task's run for the thread that ran it, when the
// stopwatch found a tally; the queue duration is measured from the task's
// delayed run time or else its posting.
void RecordTaskRunInTally(const PostedTask& task,
                          const TaskStopwatch& stopwatch,
                          const TaskBirth* birth);

// The same with the queue duration known (the worker pool's threads).
void TallyTaskDeath(ThreadTally* tally, const TaskBirth* birth,
                    int32_t queue_duration_ms, const TaskStopwatch& stopwatch);

// Tests only: a clock read before the real one (null: none); returns the
// previous one.
using TaskTrackingClock = uint32_t (*)();
TaskTrackingClock SetTaskTrackingClockForTesting(TaskTrackingClock clock);

}  // namespace base

#endif  // BASE_METRICS_THREAD_TALLY_H_
