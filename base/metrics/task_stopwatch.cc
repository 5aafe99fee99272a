#include "base/metrics/task_stopwatch.h"

#include "base/metrics/thread_heap_usage.h"
#include "base/metrics/thread_tally.h"

namespace base {

TaskStopwatch::TaskStopwatch() : TaskStopwatch(HeapUsageHooksInserted()) {}

TaskStopwatch::TaskStopwatch(bool measure_heap_usage)
    : measure_heap_usage_(measure_heap_usage) {}

TaskStopwatch::~TaskStopwatch() = default;

void TaskStopwatch::Start() {
  start_time_ms_ = static_cast<int32_t>(GetTaskTrackingTimeMs());
  if (measure_heap_usage_)
    heap_usage_.Start();
  tally_ = GetOrCreateThreadTally();
  if (!tally_)
    return;
  parent_ = tally_->current_stopwatch();
  tally_->set_current_stopwatch(this);
}

void TaskStopwatch::Stop() {
  end_time_ms_ = static_cast<int32_t>(GetTaskTrackingTimeMs());
  // Exclusive: what the task allocated is its own, not the enclosing run's.
  if (measure_heap_usage_)
    heap_usage_.Stop(true);
  // Unsigned, so that a wrap of the 32-bit clock still gives the duration.
  if (start_time_ms_ != 0 && end_time_ms_ != 0) {
    wall_duration_ms_ =
        static_cast<int32_t>(static_cast<uint32_t>(end_time_ms_) -
                             static_cast<uint32_t>(start_time_ms_));
  }
  if (!tally_)
    return;
  tally_->set_current_stopwatch(parent_);
  if (parent_) {
    parent_->nested_duration_ms_ = static_cast<int32_t>(
        static_cast<uint32_t>(parent_->nested_duration_ms_) +
        static_cast<uint32_t>(wall_duration_ms_));
  }
}

}  // namespace base
