#ifndef BASE_TIMER_TIMER_H_
#define BASE_TIMER_TIMER_H_

#include <cstdint>

#include "base/closure.h"
#include "base/location.h"
#include "base/ref_counted.h"
#include "base/task_runner.h"
#include "base/time/tick_time.h"
#include "base/time/time_delta.h"

namespace base {

class ScheduledTimerTask;

// Runs a closure once after a delay, or every delay, through posted tasks.
// A posted task is never cancelled: one that is no longer wanted runs and
// does nothing, and a deadline moved later reuses the queued task and posts
// a continuation when it comes early. Lives on the thread that first starts
// it, which runs the tasks; the user task runs no earlier than its delay
// after the `Start` or `Reset` that scheduled it, and may destroy the timer.
class Timer {
 public:
  // `retain_user_task`: keep the closure (and what it binds) after a stop,
  // for a later `Reset`. A repeating timer posts its next run before it
  // runs the user task.
  Timer(bool retain_user_task, bool is_repeating);
  Timer(const Timer&) = delete;
  Timer& operator=(const Timer&) = delete;
  virtual ~Timer();

  virtual bool IsRunning() const;
  virtual TimeDelta GetCurrentDelay() const;
  // Tasks go to `task_runner` instead of the current thread's runner. Meant
  // for before the first start.
  virtual void SetTaskRunner(RefPtr<TaskRunner> task_runner);
  virtual void Start(const SourceLocation& posted_from, TimeDelta delay,
                     Closure user_task);
  virtual void Stop();
  // Restarts the delay from now; does nothing without a user task (after a
  // stop that dropped it). Without a runner of its own, the timer needs a
  // thread with a current task runner: otherwise it logs and stays stopped.
  virtual void Reset();

 private:
  friend class ScheduledTimerTask;

  void PostNewScheduledTask(TimeDelta delay);
  void AbandonScheduledTask();
  void StopAndAbandon();
  // The queued task has come: run the user task, or wait on.
  void OnScheduledTaskRun();

  ScheduledTimerTask* scheduled_task_ = nullptr;
  RefPtr<TaskRunner> task_runner_;
  SourceLocation posted_from_;
  TimeDelta delay_;
  Closure user_task_;
  // When the queued task runs; null for an immediate post.
  TickTime scheduled_run_time_;
  // When the user task should run; null for "now".
  TickTime desired_run_time_;
  uint32_t thread_id_ = 0;
  const bool is_repeating_;
  const bool retain_user_task_;
  bool is_running_ = false;
};

}  // namespace base

#endif  // BASE_TIMER_TIMER_H_
