#include "base/metrics/task_stopwatch.h"

#include "base/metrics/thread_tally.h"

namespace base {

void TaskStopwatch::Start() {
  start_time_ms_ = static_cast<int32_t>(GetTaskTrackingTimeMs());
}

void TaskStopwatch::Stop() {
  // Unsigned, so that a wrap of the 32-bit clock still gives the duration.
  run_duration_ms_ = static_cast<int32_t>(
      GetTaskTrackingTimeMs() - static_cast<uint32_t>(start_time_ms_));
}

}  // namespace base
