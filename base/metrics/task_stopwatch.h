#ifndef BASE_METRICS_TASK_STOPWATCH_H_
#define BASE_METRICS_TASK_STOPWATCH_H_

#include <cstdint>

namespace base {

// Times one task run on the task-tracking clock (which reads 0 while timing
// is off). The task annotator takes the start time for the queue duration.
class TaskStopwatch {
 public:
  void Start();
  void Stop();

  int32_t start_time_ms() const { return start_time_ms_; }
  int32_t run_duration_ms() const { return run_duration_ms_; }

 private:
  int32_t start_time_ms_ = 0;
  int32_t run_duration_ms_ = 0;
};

}  // namespace base

#endif  // BASE_METRICS_TASK_STOPWATCH_H_
