#ifndef BASE_POSTED_TASK_H_
#define BASE_POSTED_TASK_H_

#include <cstdint>

#include "base/closure.h"
#include "base/location.h"
#include "base/time/tick_time.h"

namespace base {

class TaskBirth;

// One queued closure with what the queue and the diagnostics need to know
// of it. Moved, never copied.
class PostedTask {
 public:
  // Registers the task's birth when task tracking profiles (status above 2).
  PostedTask(const SourceLocation& posted_from, Closure task,
             TickTime delayed_run_time, bool nestable);
  PostedTask(PostedTask&& other) noexcept;
  PostedTask& operator=(PostedTask&& other) noexcept;
  ~PostedTask();

  // Null unless task tracking profiles.
  TaskBirth* birth = nullptr;
  // Milliseconds on the task-tracking clock.
  uint32_t posted_time = 0;
  // Null for an immediate task.
  TickTime delayed_run_time;
  Closure task;
  SourceLocation posted_from;
  // Where the task that was running on the posting thread was posted from,
  // then the first entries of that task's own chain; zeros when the posting
  // thread ran no queued task. Kept for crash dumps.
  static constexpr int kTaskChainLength = 4;
  const void* task_chain[kTaskChainLength] = {};
  // Given when the task enters a queue.
  int32_t sequence_num = 0;
  // False: must not run inside a nested loop run.
  bool nestable = true;
  // The delay was above zero and under 32 ms: the loop raises the system
  // timer resolution while such tasks wait.
  bool high_resolution = false;
};

}  // namespace base

#endif  // BASE_POSTED_TASK_H_
