#include "base/timer/timer.h"

#include <windows.h>

#include <memory>
#include <utility>

#include "base/current_task_runner_handle.h"
#include "base/logging.h"

namespace base {

// The state of the closure posted for a timer: it points back at the timer
// until the timer abandons it. The task queue owns it through the closure.
class ScheduledTimerTask final : public ClosureState {
 public:
  explicit ScheduledTimerTask(Timer* timer)
      : ClosureState(reinterpret_cast<InvokeFunction>(&Run), &Destroy),
        timer_(timer) {}

  void Abandon() { timer_ = nullptr; }

 private:
  static void Run(ClosureState* state) {
    auto* self = static_cast<ScheduledTimerTask*>(state);
    Timer* timer = self->timer_;
    if (!timer)
      return;
    timer->scheduled_task_ = nullptr;
    self->timer_ = nullptr;
    timer->OnScheduledTaskRun();
  }

  // Reached without a run when the queue is destroyed (or refuses the post):
  // the timer can no longer fire.
  static void Destroy(ClosureState* state) {
    std::unique_ptr<ScheduledTimerTask> self(
        static_cast<ScheduledTimerTask*>(state));
    if (self->timer_)
      self->timer_->StopAndAbandon();
  }

  Timer* timer_;
};

Timer::Timer(bool retain_user_task, bool is_repeating)
    : is_repeating_(is_repeating), retain_user_task_(retain_user_task) {}

Timer::~Timer() {
  StopAndAbandon();
  user_task_.Reset();
  task_runner_.reset();
}

bool Timer::IsRunning() const {
  return is_running_;
}

TimeDelta Timer::GetCurrentDelay() const {
  return delay_;
}

void Timer::SetTaskRunner(RefPtr<TaskRunner> task_runner) {
  task_runner_ = std::move(task_runner);
}

void Timer::Start(const SourceLocation& posted_from, TimeDelta delay,
                  Closure user_task) {
  posted_from_ = posted_from;
  delay_ = delay;
  user_task_ = std::move(user_task);
  Reset();
}

void Timer::Stop() {
  is_running_ = false;
  if (!retain_user_task_)
    user_task_.Reset();
}

void Timer::Reset() {
  if (!user_task_)
    return;
  if (!scheduled_task_) {
    PostNewScheduledTask(delay_);
    return;
  }
  desired_run_time_ =
      delay_ > TimeDelta() ? TickTime::Now() + delay_ : TickTime();
  // The queued task comes early enough: it waits on by itself when early.
  if (desired_run_time_ >= scheduled_run_time_) {
    is_running_ = true;
    return;
  }
  AbandonScheduledTask();
  PostNewScheduledTask(delay_);
}

void Timer::PostNewScheduledTask(TimeDelta delay) {
  RefPtr<TaskRunner> task_runner = task_runner_;
  if (!task_runner)
    task_runner = CurrentTaskRunnerHandle::Get();
  if (!task_runner) {
    LOG(ERROR) << "A timer started on a thread without a task runner";
    is_running_ = false;
    return;
  }
  is_running_ = true;
  auto owned_task = std::make_unique<ScheduledTimerTask>(this);
  scheduled_task_ = owned_task.get();
  Closure task(owned_task.release());
  // Read before the post, so that the queue's run time is never earlier
  // than the one the timer keeps: a task that finds the deadline reached
  // is then never early.
  const bool delayed = delay > TimeDelta();
  const TickTime run_time = delayed ? TickTime::Now() + delay : TickTime();
  // A refused post destroys the task, which stops this timer.
  task_runner->PostTaskWithDelay(posted_from_, std::move(task),
                                 delayed ? delay : TimeDelta());
  scheduled_run_time_ = desired_run_time_ = run_time;
  if (thread_id_ == 0)
    thread_id_ = GetCurrentThreadId();
}

void Timer::AbandonScheduledTask() {
  if (scheduled_task_) {
    scheduled_task_->Abandon();
    scheduled_task_ = nullptr;
  }
}

void Timer::StopAndAbandon() {
  AbandonScheduledTask();
  Stop();
}

void Timer::OnScheduledTaskRun() {
  if (!is_running_)
    return;
  if (desired_run_time_ > scheduled_run_time_) {
    const TickTime now = TickTime::Now();
    if (desired_run_time_ > now) {
      PostNewScheduledTask(desired_run_time_ - now);
      return;
    }
  }
  Closure task = user_task_;
  if (is_repeating_)
    PostNewScheduledTask(delay_);
  else
    Stop();
  // The user task may destroy this timer: nothing of it is touched after.
  if (task)
    task.Run();
}

}  // namespace base
