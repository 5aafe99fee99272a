#include "base/message_loop/posted_task_queue.h"

#include <utility>

#include "base/location.h"
#include "base/message_loop/message_pump.h"
#include "base/message_loop/task_annotator.h"
#include "base/time/tick_time.h"
#include "base/trace_event/activity_scope.h"

namespace base {

namespace {

constexpr char kQueueFunction[] = "MessageLoop::PostTask";
// Delays below this ask for the raised system timer resolution.
constexpr int64_t kHighResolutionLimitMs = 32;

bool IsHighResolutionDelay(TimeDelta delay) {
  return delay > TimeDelta() && !delay.is_max() &&
         delay.InMilliseconds() < kHighResolutionLimitMs;
}

// The running task's origin and the start of its own chain: what led to the
// task being posted, for crash dumps.
void FillTaskChain(PostedTask& task) {
  const PostedTask* running = TaskAnnotator::CurrentTaskForThread();
  if (!running)
    return;
  task.task_chain[0] = running->posted_from.program_counter();
  for (int i = 1; i < PostedTask::kTaskChainLength; ++i)
    task.task_chain[i] = running->task_chain[i - 1];
}

// Shared by posters; taken exclusively once, when the loop detaches.
class SharedLockScope {
 public:
  explicit SharedLockScope(SRWLOCK& lock) : lock_(lock) {
    LockAcquireActivityScope activity(__builtin_return_address(0), &lock);
    AcquireSRWLockShared(&lock_);
  }
  SharedLockScope(const SharedLockScope&) = delete;
  SharedLockScope& operator=(const SharedLockScope&) = delete;
  ~SharedLockScope() { ReleaseSRWLockShared(&lock_); }

 private:
  SRWLOCK& lock_;
};

}  // namespace

PostedTaskQueue::PostedTaskQueue(MessageLoop* loop, TaskAnnotator* annotator)
    : message_loop_(loop), annotator_(annotator) {}

PostedTaskQueue::~PostedTaskQueue() = default;

bool PostedTaskQueue::AddToIncomingQueue(const SourceLocation& from_here,
                                         Closure task, TimeDelta delay,
                                         bool nestable) {
  TickTime delayed_run_time;
  if (delay > TimeDelta())
    delayed_run_time = TickTime::Now() + delay;
  PostedTask pending(from_here, std::move(task), delayed_run_time, nestable);
  pending.high_resolution = IsHighResolutionDelay(delay);
  FillTaskChain(pending);
  return PostPendingTask(pending);
}

bool PostedTaskQueue::PostPendingTask(PostedTask& task) {
  MessagePump* pump_to_wake = nullptr;
  if (!AppendTask(task, &pump_to_wake)) {
    // Released outside the lock: its destructors may post again.
    task.task.Reset();
    return false;
  }
  if (pump_to_wake) {
    // Shared: the loop cannot destroy the pump during the call. Only a post
    // that wakes takes this lock, so the common post takes one lock.
    SharedLockScope loop_lock(message_loop_lock_);
    if (message_loop_)
      pump_to_wake->WakeUp();
  }
  return true;
}

bool PostedTaskQueue::AppendTask(PostedTask& task, MessagePump** pump_to_wake) {
  AutoLock lock(incoming_queue_lock_);
  if (!message_loop_)
    return false;
  if (task.high_resolution)
    ++high_resolution_task_count_;
  task.sequence_num = next_sequence_num_;
  // Wraps on purpose: the delayed order compares differences.
  next_sequence_num_ =
      static_cast<int32_t>(static_cast<uint32_t>(next_sequence_num_) + 1u);
  annotator_->DidQueueTask(kQueueFunction, task);
  bool was_empty = incoming_queue_.empty();
  incoming_queue_.push_back(std::move(task));
  if (ready_for_scheduling_ && !loop_scheduled_ && was_empty) {
    loop_scheduled_ = true;
    *pump_to_wake = pump_;
  }
  return true;
}

int32_t PostedTaskQueue::SwapInIncomingTasks(
    std::vector<PostedTask>* work_queue) {
  AutoLock lock(incoming_queue_lock_);
  if (incoming_queue_.empty()) {
    // The loop is about to wait: the next post must wake it.
    loop_scheduled_ = false;
  } else {
    incoming_queue_.swap(*work_queue);
  }
  return std::exchange(high_resolution_task_count_, 0);
}

void PostedTaskQueue::StartScheduling(MessagePump* pump) {
  bool has_tasks = false;
  {
    AutoLock lock(incoming_queue_lock_);
    pump_ = pump;
    ready_for_scheduling_ = true;
    has_tasks = !incoming_queue_.empty();
    if (has_tasks)
      loop_scheduled_ = true;
  }
  if (has_tasks)
    pump->WakeUp();
}

void PostedTaskQueue::SetNextSequenceNumberForTesting(int32_t sequence_num) {
  AutoLock lock(incoming_queue_lock_);
  next_sequence_num_ = sequence_num;
}

void PostedTaskQueue::WillDestroyCurrentMessageLoop() {
  LockAcquireActivityScope activity(__builtin_return_address(0),
                                    &message_loop_lock_);
  AcquireSRWLockExclusive(&message_loop_lock_);
  message_loop_ = nullptr;
  {
    AutoLock lock(incoming_queue_lock_);
    pump_ = nullptr;
  }
  ReleaseSRWLockExclusive(&message_loop_lock_);
}

}  // namespace base
