#ifndef BASE_METRICS_TASK_STOPWATCH_H_
#define BASE_METRICS_TASK_STOPWATCH_H_

#include <cstdint>

#include "base/metrics/heap_usage_scope.h"

namespace base {

class ThreadTally;

// Times one task run on the task-tracking clock (which reads 0 while timing
// is off) and, while the heap-usage hooks are in, measures what the task
// allocated. Stopwatches of the same thread nest: a task that runs another
// one (a nested loop, say) does not count the inner run as its own. Lives on
// the stack of the thread that runs the task.
class TaskStopwatch {
 public:
  // Measures heap usage exactly when the heap-usage hooks are in.
  TaskStopwatch();
  explicit TaskStopwatch(bool measure_heap_usage);
  TaskStopwatch(const TaskStopwatch&) = delete;
  TaskStopwatch& operator=(const TaskStopwatch&) = delete;
  ~TaskStopwatch();

  void Start();
  void Stop();

  // The task annotator takes the start for the queue duration.
  int32_t start_time_ms() const { return start_time_ms_; }
  int32_t wall_duration_ms() const { return wall_duration_ms_; }
  // The wall duration less that of the stopwatches nested inside.
  int32_t run_duration_ms() const {
    return static_cast<int32_t>(static_cast<uint32_t>(wall_duration_ms_) -
                                static_cast<uint32_t>(nested_duration_ms_));
  }
  // The thread's tally found by `Start`; null while tracking is off.
  ThreadTally* tally() const { return tally_; }
  bool measured_heap_usage() const { return measure_heap_usage_; }
  const ThreadHeapUsage& heap_usage() const { return heap_usage_.usage(); }

 private:
  int32_t start_time_ms_ = 0;
  int32_t end_time_ms_ = 0;
  HeapUsageScope heap_usage_;
  const bool measure_heap_usage_;
  int32_t wall_duration_ms_ = 0;
  int32_t nested_duration_ms_ = 0;
  ThreadTally* tally_ = nullptr;
  // The stopwatch this one interrupted.
  TaskStopwatch* parent_ = nullptr;
};

}  // namespace base

#endif  // BASE_METRICS_TASK_STOPWATCH_H_
