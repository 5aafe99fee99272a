#include "base/threading/sequenced_worker_pool.h"

#include <windows.h>

#include <limits>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "base/bind.h"
#include "base/current_task_runner_handle.h"
#include "base/location.h"
#include "base/logging.h"
#include "base/metrics/histogram.h"
#include "base/metrics/task_stopwatch.h"
#include "base/metrics/thread_tally.h"
#include "base/post_task_and_reply.h"
#include "base/threading/os_thread.h"
#include "base/threading/pool_sequenced_task_runner.h"
#include "base/threading/pool_worker.h"
#include "base/threading/sync_event.h"
#include "base/time/tick_time.h"
#include "base/trace_event/activity_scope.h"
#include "base/trace_event/thread_trace_context.h"
#include "base/trace_event/trace_log.h"
#include "base/worker_pool.h"

namespace base {

namespace {

using ShutdownBehavior = SequencedWorkerPool::ShutdownBehavior;

constexpr char kShutdownDelayHistogram[] =
    "SequencedWorkerPool.ShutdownDelayTime";
constexpr TimeDelta kShutdownDelayMinimum = TimeDelta::FromMilliseconds(1);
constexpr TimeDelta kShutdownDelayMaximum = TimeDelta::FromSeconds(10);
constexpr char kPostTaskEventName[] = "SequencedWorkerPool::Inner::PostTask";
constexpr char kThreadLoopEventName[] =
    "SequencedWorkerPool::Inner::ThreadLoop";

// Shared by every pool, so that a token names one sequence in the process.
constinit std::atomic<int32_t> g_last_sequence_token{0};

struct PendingPoolTask {
  // Null unless task tracking is on.
  TaskBirth* birth = nullptr;
  // On the task-tracking clock.
  uint32_t time_posted = 0;
  int32_t sequence_token = 0;
  int32_t trace_id = 0;
  int64_t sequence_task_number = 0;
  ShutdownBehavior shutdown_behavior = ShutdownBehavior::kBlockShutdown;
  SourceLocation posted_from;
  Closure task;
  TickTime time_to_run;
};

// Equal times to run keep their posting order.
struct PendingTaskKey {
  TickTime time_to_run;
  int64_t sequence_task_number;
  friend auto operator<=>(const PendingTaskKey&,
                          const PendingTaskKey&) = default;
};

using TaskList = std::vector<PendingPoolTask>;

const uint8_t* ToplevelCategory() {
  static const uint8_t* const flag =
      TraceLog::GetCategoryEnabledFlag("toplevel");
  return flag;
}

const uint8_t* FlowCategory() {
  static const uint8_t* const flag =
      TraceLog::GetCategoryEnabledFlag("disabled-by-default-toplevel.flow");
  return flag;
}

bool IsCategoryEnabled(const uint8_t* flag) {
  return (*flag & kCategoryGroupEnabledMask) != 0;
}

void TraceFlowOut(uint64_t flow_id) {
  if (!IsCategoryEnabled(FlowCategory()))
    return;
  TraceLog* log = TraceLog::GetInstance();
  const TraceEventHandle handle = log->AddEvent(
      kTracePhaseComplete, FlowCategory(), kPostTaskEventName, flow_id, 0,
      GetCurrentThreadId(), TickTime::Now().ToInternalValue(), 0, nullptr,
      nullptr, nullptr, kTraceFlagsTaskFlowOut);
  log->CompleteEventDuration(FlowCategory(), kPostTaskEventName, handle);
}

// The trace events and the trace context of one task run, for the scope.
class TaskRunTrace {
 public:
  TaskRunTrace(const PendingPoolTask& task, uint64_t flow_id) {
    TraceLog* log = TraceLog::GetInstance();
    const int64_t now = TickTime::Now().ToInternalValue();
    if (IsCategoryEnabled(ToplevelCategory())) {
      const char* const names[] = {"src_file", "src_func"};
      const uint8_t types[] = {kTraceArgumentString, kTraceArgumentString};
      const uint64_t values[] = {
          reinterpret_cast<uintptr_t>(task.posted_from.file_name()),
          reinterpret_cast<uintptr_t>(task.posted_from.function_name())};
      run_event_ = log->AddEvent(
          kTracePhaseComplete, ToplevelCategory(), kThreadLoopEventName, 0, 0,
          GetCurrentThreadId(), now, 2, names, types, values, 0);
      run_event_open_ = true;
    }
    if (IsCategoryEnabled(FlowCategory())) {
      flow_event_ =
          log->AddEvent(kTracePhaseComplete, FlowCategory(), kPostTaskEventName,
                        flow_id, 0, GetCurrentThreadId(), now, 0, nullptr,
                        nullptr, nullptr, kTraceFlagsTaskFlowIn);
      flow_event_open_ = true;
    }
    if (ThreadTraceContext::capture_mode() != 0) {
      context_ = ThreadTraceContext::GetForCurrentThread();
      if (context_)
        context_->PushContext(task.posted_from.file_name());
    }
  }
  TaskRunTrace(const TaskRunTrace&) = delete;
  TaskRunTrace& operator=(const TaskRunTrace&) = delete;
  ~TaskRunTrace() {
    if (context_)
      context_->PopContext();
    TraceLog* log = TraceLog::GetInstance();
    if (flow_event_open_)
      log->CompleteEventDuration(FlowCategory(), kPostTaskEventName,
                                 flow_event_);
    if (run_event_open_)
      log->CompleteEventDuration(ToplevelCategory(), kThreadLoopEventName,
                                 run_event_);
  }

 private:
  TraceEventHandle run_event_ = 0;
  TraceEventHandle flow_event_ = 0;
  bool run_event_open_ = false;
  bool flow_event_open_ = false;
  ThreadTraceContext* context_ = nullptr;
};

// The pool's one lock and the waits on its conditions. Acquisitions are
// recorded for diagnostics, as those of `Lock` are.
class PoolLock {
 public:
  void Acquire() {
    LockAcquireActivityScope activity(__builtin_return_address(0), this);
    AcquireSRWLockExclusive(&lock_);
  }
  void Release() { ReleaseSRWLockExclusive(&lock_); }
  // Sleeps on `condition` with the lock let go, at most `milliseconds`.
  void Wait(CONDITION_VARIABLE* condition, DWORD milliseconds) {
    SleepConditionVariableSRW(condition, &lock_, milliseconds, 0);
  }

 private:
  SRWLOCK lock_ = SRWLOCK_INIT;
};

class PoolAutoLock {
 public:
  explicit PoolAutoLock(PoolLock& lock) : lock_(lock) { lock_.Acquire(); }
  PoolAutoLock(const PoolAutoLock&) = delete;
  PoolAutoLock& operator=(const PoolAutoLock&) = delete;
  ~PoolAutoLock() { lock_.Release(); }

 private:
  PoolLock& lock_;
};

// Lets go of a held lock for the scope.
class PoolAutoUnlock {
 public:
  explicit PoolAutoUnlock(PoolLock& lock) : lock_(lock) { lock_.Release(); }
  PoolAutoUnlock(const PoolAutoUnlock&) = delete;
  PoolAutoUnlock& operator=(const PoolAutoUnlock&) = delete;
  ~PoolAutoUnlock() { lock_.Acquire(); }

 private:
  PoolLock& lock_;
};

// Releases tasks unrun. While each closure goes, the worker counts as
// processing it, so that a destructor asking its sequence's runner
// `IsOnOwnThread` hears yes.
void ReleaseUnrun(PoolWorker* worker, TaskList& tasks) {
  for (PendingPoolTask& task : tasks) {
    if (worker)
      worker->set_running_task_info(task.sequence_token,
                                    task.shutdown_behavior);
    task.task.Reset();
    if (worker)
      worker->reset_running_task_info();
  }
  tasks.clear();
}

void RunAndRelease(PoolWorker& worker, PendingPoolTask& task) {
  worker.set_running_task_info(task.sequence_token, task.shutdown_behavior);
  TaskStopwatch stopwatch;
  stopwatch.Start();
  task.task.Run();
  stopwatch.Stop();
  if (task.birth) {
    const auto queue_duration_ms = static_cast<int32_t>(
        static_cast<uint32_t>(stopwatch.start_time_ms()) - task.time_posted);
    TallyTaskDeath(GetOrCreateThreadTally(), task.birth, queue_duration_ms,
                   stopwatch);
  }
  task.task.Reset();
  worker.reset_running_task_info();
}

void RecordShutdownDelay(TimeDelta waited) {
  const int64_t milliseconds = waited.InMilliseconds();
  const int32_t sample = milliseconds > std::numeric_limits<int32_t>::max()
                             ? std::numeric_limits<int32_t>::max()
                             : static_cast<int32_t>(milliseconds);
  if (HistogramBase* histogram =
          GetTimeHistogram(kShutdownDelayHistogram, kShutdownDelayMinimum,
                           kShutdownDelayMaximum)) {
    histogram->Add(sample);
  }
}

// Where a reply from a pool task goes: the task's own sequence.
RefPtr<SequencedTaskRunner> GetCurrentWorkerSequenceRunner() {
  PoolWorker* worker = GetCurrentPoolWorker();
  if (!worker || !worker->pool() || !worker->is_processing_task() ||
      worker->task_sequence_token() == 0) {
    return nullptr;
  }
  return MakeRefCounted<PoolSequencedTaskRunner>(
      RefPtr<SequencedWorkerPool>(worker->pool()),
      worker->task_sequence_token(), ShutdownBehavior::kBlockShutdown);
}

}  // namespace

// The pool's state; one lock guards all of it. Tasks run, closures are
// released and threads are started with the lock let go.
class SequencedWorkerPool::Inner {
 public:
  Inner(SequencedWorkerPool* pool, size_t max_threads, std::string prefix)
      : pool_(pool),
        max_threads_(max_threads),
        thread_name_prefix_(std::move(prefix)) {}
  Inner(const Inner&) = delete;
  Inner& operator=(const Inner&) = delete;
  ~Inner();

  int32_t GetNamedSequenceToken(StringSlice name);
  bool PostTask(int32_t token, ShutdownBehavior behavior,
                const SourceLocation& from_here, Closure task, TimeDelta delay);
  bool RunsTasksOnCurrentThread();
  void ThreadLoop(PoolWorker& worker);
  void Shutdown();
  void set_worker_stack_size(uint64_t stack_size) {
    worker_stack_size_ = stack_size;
  }
  void set_shutdown_wait_event(SyncEvent* event) {
    PoolAutoLock hold(lock_);
    shutdown_wait_event_ = event;
  }

 private:
  enum class TakeResult { kFound, kNotFound, kWait };

  // Under the lock.
  bool Enqueue(PendingPoolTask& task, int* thread_number);
  bool IsRunnable(const PendingPoolTask& task) const;
  int ClaimNewWorkerNumber();
  TakeResult TakeNextTask(PendingPoolTask* task, TimeDelta* wait_time,
                          TaskList* delete_list);
  void RunTask(PoolWorker& worker, PendingPoolTask& task,
               TaskList& delete_list);
  bool CanShutDown() const;
  uint64_t FlowId(int32_t trace_id) const;

  // Outside the lock.
  void StartWorker(int thread_number);
  void WakeOneWorker() { WakeConditionVariable(&has_work_); }

  SequencedWorkerPool* const pool_;
  PoolLock lock_;
  CONDITION_VARIABLE has_work_ = CONDITION_VARIABLE_INIT;
  CONDITION_VARIABLE can_shut_down_ = CONDITION_VARIABLE_INIT;
  const size_t max_threads_;
  const std::string thread_name_prefix_;
  std::map<std::string, int32_t> named_tokens_;
  std::map<uint32_t, std::unique_ptr<PoolWorker>> threads_;
  // Owns the worker from its creation until its thread takes its place in
  // `threads_`.
  std::unique_ptr<PoolWorker> worker_being_created_;
  bool thread_being_created_ = false;
  size_t waiting_thread_count_ = 0;
  int64_t blocking_shutdown_thread_count_ = 0;
  std::map<PendingTaskKey, PendingPoolTask> pending_tasks_;
  int64_t next_sequence_task_number_ = 0;
  int64_t blocking_shutdown_pending_task_count_ = 0;
  std::set<int32_t> current_sequences_;
  uint32_t trace_id_ = 0;
  bool shutdown_called_ = false;
  std::atomic<uint64_t> worker_stack_size_{0};
  SyncEvent* shutdown_wait_event_ = nullptr;
};

SequencedWorkerPool::Inner::~Inner() {
  // Workers leave their loops only after shutdown and hold the pool until
  // then, so each is on its way out (or gone): wait for it.
  for (auto& [thread_id, worker] : threads_)
    worker->Join();
  threads_.clear();
}

int32_t SequencedWorkerPool::Inner::GetNamedSequenceToken(StringSlice name) {
  PoolAutoLock hold(lock_);
  std::string key = name.AsString();
  auto found = named_tokens_.find(key);
  if (found != named_tokens_.end())
    return found->second;
  const int32_t token = g_last_sequence_token.fetch_add(1) + 1;
  named_tokens_.emplace(std::move(key), token);
  return token;
}

bool SequencedWorkerPool::Inner::PostTask(int32_t token,
                                          ShutdownBehavior behavior,
                                          const SourceLocation& from_here,
                                          Closure task, TimeDelta delay) {
  PendingPoolTask pending;
  pending.sequence_token = token;
  pending.shutdown_behavior = behavior;
  pending.posted_from = from_here;
  pending.task = std::move(task);
  pending.time_to_run = TickTime::Now() + delay;
  if (ThreadTally* tally = GetOrCreateThreadTally()) {
    pending.birth = RegisterTaskBirth(tally, from_here);
    pending.time_posted = GetTaskTrackingTimeMs();
  }
  int thread_number = 0;
  bool accepted = false;
  {
    PoolAutoLock hold(lock_);
    accepted = Enqueue(pending, &thread_number);
  }
  // A refused task is released here, away from the lock.
  if (!accepted)
    return false;
  if (thread_number)
    StartWorker(thread_number);
  else
    WakeOneWorker();
  return true;
}

bool SequencedWorkerPool::Inner::Enqueue(PendingPoolTask& task,
                                         int* thread_number) {
  // Once shutdown has begun, nothing is accepted, not even blocking tasks.
  if (shutdown_called_)
    return false;
  task.trace_id = static_cast<int32_t>(trace_id_++);
  TraceFlowOut(FlowId(task.trace_id));
  task.sequence_task_number = next_sequence_task_number_++;
  if (task.shutdown_behavior == ShutdownBehavior::kBlockShutdown)
    ++blocking_shutdown_pending_task_count_;
  const PendingTaskKey key{task.time_to_run, task.sequence_task_number};
  pending_tasks_.emplace(key, std::move(task));
  *thread_number = ClaimNewWorkerNumber();
  return true;
}

bool SequencedWorkerPool::Inner::RunsTasksOnCurrentThread() {
  PoolAutoLock hold(lock_);
  return threads_.contains(GetCurrentThreadId());
}

bool SequencedWorkerPool::Inner::IsRunnable(const PendingPoolTask& task) const {
  return task.sequence_token == 0 ||
         !current_sequences_.contains(task.sequence_token);
}

int SequencedWorkerPool::Inner::ClaimNewWorkerNumber() {
  // One thread at a time, and none while an idle one could take the work.
  if (shutdown_called_ || thread_being_created_ ||
      threads_.size() >= max_threads_ || waiting_thread_count_ > 0) {
    return 0;
  }
  for (const auto& [key, task] : pending_tasks_) {
    if (IsRunnable(task)) {
      thread_being_created_ = true;
      return static_cast<int>(threads_.size() + 1);
    }
  }
  return 0;
}

SequencedWorkerPool::Inner::TakeResult SequencedWorkerPool::Inner::TakeNextTask(
    PendingPoolTask* task, TimeDelta* wait_time, TaskList* delete_list) {
  if (pending_tasks_.empty())
    return TakeResult::kNotFound;
  const TickTime now = TickTime::Now();
  auto next = pending_tasks_.begin();
  while (next != pending_tasks_.end()) {
    PendingPoolTask& candidate = next->second;
    if (!IsRunnable(candidate)) {
      ++next;
      continue;
    }
    if (!shutdown_called_ ||
        candidate.shutdown_behavior == ShutdownBehavior::kBlockShutdown) {
      break;
    }
    delete_list->push_back(std::move(candidate));
    next = pending_tasks_.erase(next);
  }
  if (next == pending_tasks_.end())
    return TakeResult::kNotFound;
  // Sorted by time to run: when this one is not due, nothing behind it is.
  if (next->second.time_to_run > now) {
    *wait_time = next->second.time_to_run - now;
    return TakeResult::kWait;
  }
  *task = std::move(next->second);
  pending_tasks_.erase(next);
  if (task->shutdown_behavior == ShutdownBehavior::kBlockShutdown)
    --blocking_shutdown_pending_task_count_;
  return TakeResult::kFound;
}

void SequencedWorkerPool::Inner::ThreadLoop(PoolWorker& worker) {
  TaskList delete_list;
  {
    PoolAutoLock hold(lock_);
    CHECK(worker_being_created_.get() == &worker)
        << "A pool worker ran that the pool did not start";
    thread_being_created_ = false;
    threads_.emplace(worker.thread_id(), std::move(worker_being_created_));
    for (;;) {
      PendingPoolTask task;
      TimeDelta wait_time;
      const TakeResult result = TakeNextTask(&task, &wait_time, &delete_list);
      if (result == TakeResult::kFound) {
        RunTask(worker, task, delete_list);
        continue;
      }
      if (shutdown_called_ && blocking_shutdown_pending_task_count_ == 0)
        break;
      if (!delete_list.empty()) {
        PoolAutoUnlock unlock(lock_);
        ReleaseUnrun(&worker, delete_list);
        continue;
      }
      ++waiting_thread_count_;
      // Rounded up: a sub-millisecond rest must not spin on a zero wait.
      lock_.Wait(&has_work_, result == TakeResult::kNotFound
                                 ? INFINITE
                                 : internal::SleepMilliseconds(wait_time));
      --waiting_thread_count_;
    }
  }
  ReleaseUnrun(&worker, delete_list);
  // The next idle worker must see the shutdown too.
  WakeOneWorker();
  WakeAllConditionVariable(&can_shut_down_);
}

void SequencedWorkerPool::Inner::RunTask(PoolWorker& worker,
                                         PendingPoolTask& task,
                                         TaskList& delete_list) {
  TaskRunTrace trace(task, FlowId(task.trace_id));
  const int32_t token = task.sequence_token;
  const bool waited_for =
      task.shutdown_behavior != ShutdownBehavior::kContinueIfRunning;
  if (token)
    current_sequences_.insert(token);
  if (waited_for)
    ++blocking_shutdown_thread_count_;
  const int thread_number = ClaimNewWorkerNumber();
  {
    PoolAutoUnlock unlock(lock_);
    // More work may be waiting: the wake-ups chain through idle workers.
    WakeOneWorker();
    ReleaseUnrun(&worker, delete_list);
    if (thread_number)
      StartWorker(thread_number);
    RunAndRelease(worker, task);
  }
  if (waited_for)
    --blocking_shutdown_thread_count_;
  if (token)
    current_sequences_.erase(token);
}

bool SequencedWorkerPool::Inner::CanShutDown() const {
  return !thread_being_created_ && blocking_shutdown_thread_count_ == 0 &&
         blocking_shutdown_pending_task_count_ == 0;
}

uint64_t SequencedWorkerPool::Inner::FlowId(int32_t trace_id) const {
  const auto address = reinterpret_cast<uintptr_t>(this);
  return (static_cast<uint64_t>(static_cast<uint32_t>(trace_id)) << 32) |
         (address & 0xFFFFFFFFu);
}

void SequencedWorkerPool::Inner::StartWorker(int thread_number) {
  auto worker = std::make_unique<PoolWorker>(
      RefPtr<SequencedWorkerPool>(pool_), thread_number, thread_name_prefix_);
  worker->set_stack_size(worker_stack_size_.load());
  PoolWorker* starting = worker.get();
  {
    PoolAutoLock hold(lock_);
    worker_being_created_ = std::move(worker);
  }
  if (starting->Start())
    return;

  // Without this the "being created" mark would stay and block shutdown
  // forever; a later post tries again.
  LOG(ERROR) << "Could not start the pool worker " << starting->name();
  TaskList stranded;
  {
    PoolAutoLock hold(lock_);
    worker = std::move(worker_being_created_);
    thread_being_created_ = false;
    // After shutdown no post comes to try again: with no worker at all,
    // nothing pending can ever run.
    if (shutdown_called_ && threads_.empty()) {
      for (auto& [key, task] : pending_tasks_)
        stranded.push_back(std::move(task));
      pending_tasks_.clear();
      blocking_shutdown_pending_task_count_ = 0;
    }
  }
  if (!stranded.empty())
    LOG(ERROR) << "Dropping " << stranded.size()
               << " pool tasks that no worker can run";
  WakeAllConditionVariable(&can_shut_down_);
  ReleaseUnrun(nullptr, stranded);
}

void SequencedWorkerPool::Inner::Shutdown() {
  TimeDelta waited;
  {
    PoolAutoLock hold(lock_);
    if (shutdown_called_)
      return;
    shutdown_called_ = true;
    WakeOneWorker();
    if (CanShutDown())
      return;
    // Blocking tasks still run after shutdown; when every worker start has
    // failed so far, one more try is their only chance.
    if (threads_.empty() && !thread_being_created_) {
      thread_being_created_ = true;
      PoolAutoUnlock unlock(lock_);
      StartWorker(1);
    }
    const TickTime wait_start = TickTime::Now();
    // Signalled under the lock: no blocking task can count as done before
    // the wait below has begun.
    if (shutdown_wait_event_)
      shutdown_wait_event_->Signal();
    while (!CanShutDown())
      lock_.Wait(&can_shut_down_, INFINITE);
    waited = TickTime::Now() - wait_start;
  }
  RecordShutdownDelay(waited);
}

SequencedWorkerPool::SequencedWorkerPool(size_t max_threads,
                                         StringSlice thread_name_prefix)
    : constructor_runner_(GetCurrentSequencedTaskRunner()),
      inner_(std::make_unique<Inner>(this, max_threads,
                                     thread_name_prefix.AsString())) {
  // Replies from pool tasks come back to their sequence.
  SetPoolSequenceRunnerGetter(&GetCurrentWorkerSequenceRunner);
}

SequencedWorkerPool::~SequencedWorkerPool() = default;

int32_t SequencedWorkerPool::GetNamedSequenceToken(StringSlice name) {
  return inner_->GetNamedSequenceToken(name);
}

bool SequencedWorkerPool::PostTaskWithDelay(const SourceLocation& from_here,
                                            Closure task, TimeDelta delay) {
  const ShutdownBehavior behavior = delay > TimeDelta()
                                        ? ShutdownBehavior::kSkipIfPending
                                        : ShutdownBehavior::kBlockShutdown;
  return inner_->PostTask(0, behavior, from_here, std::move(task), delay);
}

bool SequencedWorkerPool::IsOnOwnThread() const {
  return inner_->RunsTasksOnCurrentThread();
}

void SequencedWorkerPool::Shutdown() {
  inner_->Shutdown();
}

bool SequencedWorkerPool::IsHeldByRunnersOrWorkers() const {
  return holder_count_.load() > 0;
}

void SequencedWorkerPool::SetWorkerStackSizeForTesting(uint64_t stack_size) {
  inner_->set_worker_stack_size(stack_size);
}

void SequencedWorkerPool::SetShutdownWaitEventForTesting(SyncEvent* event) {
  inner_->set_shutdown_wait_event(event);
}

void SequencedWorkerPool::OnDestruct() const {
  auto* self = const_cast<SequencedWorkerPool*>(this);
  if (!IsOnOwnThread()) {
    DeleteNow(self);
    return;
  }
  if (constructor_runner_ &&
      PostDeleteSoon(*constructor_runner_, FROM_HERE, &DeleteNow, self)) {
    return;
  }
  // The constructing thread had no runner, or its loop is gone: any thread
  // but our own workers can join them.
  if (WorkerPool::PostTask(FROM_HERE, BindFunction(&DeleteNow, self),
                           /*task_is_slow=*/false)) {
    return;
  }
  LOG(ERROR) << "No thread can delete the worker pool; it is leaked";
}

// static
void SequencedWorkerPool::DeleteNow(void* pool) {
  // The last reference is gone: the pool owns itself, as `TaskRunner` does.
  delete static_cast<SequencedWorkerPool*>(pool);
}

bool SequencedWorkerPool::PostSequencedTask(int32_t token,
                                            ShutdownBehavior behavior,
                                            const SourceLocation& from_here,
                                            Closure task, TimeDelta delay) {
  return inner_->PostTask(token, behavior, from_here, std::move(task), delay);
}

void SequencedWorkerPool::ThreadLoop(PoolWorker& worker) {
  inner_->ThreadLoop(worker);
}

void SequencedWorkerPool::AddHolder() {
  holder_count_.fetch_add(1);
}

void SequencedWorkerPool::RemoveHolder() {
  holder_count_.fetch_sub(1);
}

bool PostTaskAndReplyOnWorkerPool(const SourceLocation& from_here, Closure task,
                                  Closure reply, bool task_is_slow) {
  WorkerPoolRelay poster(task_is_slow);
  return PostTaskAndReplyCore(poster, from_here, std::move(task),
                              std::move(reply));
}

}  // namespace base
