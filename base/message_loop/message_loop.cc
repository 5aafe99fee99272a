#include "base/message_loop/message_loop.h"

#include <windows.h>

#include <algorithm>
#include <utility>

#include "base/current_task_runner_handle.h"
#include "base/lazy_global.h"
#include "base/logging.h"
#include "base/message_loop/loop_runner.h"
#include "base/message_loop/message_pump_default.h"
#include "base/message_loop/message_pump_ui.h"
#include "base/message_loop/posted_task_queue.h"
#include "base/threading/tls_slot.h"
#include "base/time/high_resolution_timer.h"
#include "base/trace_event/thread_trace_context.h"
#include "base/trace_event/trace_log.h"

namespace base {

namespace {

constexpr char kQueueFunction[] = "MessageLoop::PostTask";
constexpr char kRunTaskEvent[] = "MessageLoop::RunTask";
// Tasks destroyed at loop destruction may post new ones; this many passes
// clear any sane chain of them.
constexpr int kMaxDeletePasses = 100;
constexpr int kMaxObserverStackFrames = 10;
// A drained work queue keeps its storage for the next batch of posts, up to
// this many tasks: a burst must not pin its memory for good.
constexpr size_t kMaxRetainedQueueCapacity = 1024;

struct CurrentLoopSlot {
  CurrentLoopSlot() { slot.Initialize(nullptr); }
  TlsSlot slot;
};
constinit LazyGlobalInstance<CurrentLoopSlot> g_current_loop_slot(
    LazyGlobalLifetime::kLeaky);

TlsSlot& CurrentLoop() {
  return g_current_loop_slot.Get()->slot;
}

const uint8_t* TopLevelCategoryFlag() {
  static const uint8_t* const flag =
      TraceLog::GetCategoryEnabledFlag("toplevel");
  return flag;
}

// The "toplevel" trace event and the heap-profiling context of one task run.
class ScopedRunTaskTrace {
 public:
  explicit ScopedRunTaskTrace(const SourceLocation& location) {
    if (*TopLevelCategoryFlag() & kCategoryGroupEnabledMask) {
      const char* names[] = {"src_file", "src_func"};
      const uint8_t types[] = {kTraceArgumentString, kTraceArgumentString};
      const uint64_t values[] = {
          reinterpret_cast<uintptr_t>(location.file_name()),
          reinterpret_cast<uintptr_t>(location.function_name())};
      event_ = TraceLog::GetInstance()->AddEvent(
          kTracePhaseComplete, TopLevelCategoryFlag(), kRunTaskEvent, 0, 0,
          GetCurrentThreadId(), TickTime::Now().ToInternalValue(), 2, names,
          types, values, 0);
    }
    if (ThreadTraceContext::capture_mode() != 0) {
      context_ = ThreadTraceContext::GetForCurrentThread();
      if (context_)
        context_->PushContext(location.file_name());
    }
  }
  ScopedRunTaskTrace(const ScopedRunTaskTrace&) = delete;
  ScopedRunTaskTrace& operator=(const ScopedRunTaskTrace&) = delete;
  ~ScopedRunTaskTrace() {
    if (context_)
      context_->PopContext();
    if (event_) {
      TraceLog::GetInstance()->CompleteEventDuration(TopLevelCategoryFlag(),
                                                     kRunTaskEvent, event_);
    }
  }

 private:
  TraceEventHandle event_ = 0;
  ThreadTraceContext* context_ = nullptr;
};

}  // namespace

// Keeps where an observer was registered, so that a crash in its
// notification shows who registered it.
class MessageLoop::StackCapturingDestructionObserver {
 public:
  explicit StackCapturingDestructionObserver(DestructionObserver* observer)
      : observer_(observer) {
    frame_count_ = RtlCaptureStackBackTrace(1, kMaxObserverStackFrames,
                                            frames_, nullptr);
  }

  void OnLoopDestroying() {
    void* frames[kMaxObserverStackFrames];
    std::copy(frames_, frames_ + kMaxObserverStackFrames, frames);
    observer_->OnLoopDestroying();
    asm volatile("" : : "r"(frames) : "memory");
  }

  DestructionObserver* observer() const { return observer_; }

 private:
  DestructionObserver* observer_;
  void* frames_[kMaxObserverStackFrames] = {};
  USHORT frame_count_ = 0;
};

bool MessageLoop::DelayedTaskOrder::operator()(const PostedTask& a,
                                               const PostedTask& b) const {
  // True when `a` runs after `b`: the heap keeps the earliest at its front.
  if (a.delayed_run_time != b.delayed_run_time)
    return a.delayed_run_time > b.delayed_run_time;
  // The difference survives the wrap-around of the sequence counter.
  return static_cast<int32_t>(static_cast<uint32_t>(a.sequence_num) -
                              static_cast<uint32_t>(b.sequence_num)) > 0;
}

MessageLoop::MessageLoop(Type type) : MessageLoop(type, PumpFactory()) {
  BindToCurrentThread();
}

MessageLoop::MessageLoop(Type type, PumpFactory pump_factory)
    : type_(type),
      pump_factory_(std::move(pump_factory)),
      incoming_queue_(MakeRefCounted<PostedTaskQueue>(this, &task_annotator_)),
      unbound_task_runner_(MakeRefCounted<LoopTaskRunner>(incoming_queue_)),
      task_runner_(unbound_task_runner_) {}

MessageLoop::~MessageLoop() {
  if (in_high_resolution_mode_)
    HighResolutionTimer::Activate(false);

  for (int pass = 0; pass < kMaxDeletePasses; ++pass) {
    DeletePendingTasks();
    ReloadWorkQueue();
    if (!DeletePendingTasks())
      break;
  }

  NotifyDestructionObservers();
  task_runner_handle_.reset();
  // From here every post fails and releases its task unrun.
  incoming_queue_->WillDestroyCurrentMessageLoop();
  incoming_queue_.reset();
  unbound_task_runner_.reset();
  task_runner_.reset();
  if (CurrentLoop().Get() == this)
    CurrentLoop().Set(nullptr);
}

// static
MessageLoop* MessageLoop::current() {
  return static_cast<MessageLoop*>(CurrentLoop().Get());
}

void MessageLoop::BindToCurrentThread() {
  CHECK(!pump_) << "The message loop is bound already";
  CHECK(!current()) << "The thread has a message loop already";
  pump_ = MakePump();
  CurrentLoop().Set(this);
  incoming_queue_->StartScheduling(pump_.get());
  unbound_task_runner_->BindToCurrentThread();
  unbound_task_runner_.reset();
  task_runner_handle_.reset();
  task_runner_handle_ = std::make_unique<CurrentTaskRunnerHandle>(
      RefPtr<SequencedTaskRunner>(task_runner_));
  thread_id_ = GetCurrentThreadId();
}

void MessageLoop::SetNestableTasksAllowed(bool allowed) {
  // A modal system loop run by the task only runs tasks when woken: the
  // posts already queued would not wake it themselves.
  if (allowed && !nestable_tasks_allowed_ && pump_)
    pump_->WakeUp();
  nestable_tasks_allowed_ = allowed;
}

void MessageLoop::AddDestructionObserver(DestructionObserver* observer) {
  for (const auto& wrapper : destruction_observer_wrappers_) {
    if (wrapper->observer() == observer)
      return;
  }
  destruction_observer_wrappers_.push_back(
      std::make_unique<StackCapturingDestructionObserver>(observer));
  destruction_observers_.AddObserver(
      destruction_observer_wrappers_.back().get());
}

void MessageLoop::RemoveDestructionObserver(DestructionObserver* observer) {
  auto it = std::find_if(
      destruction_observer_wrappers_.begin(),
      destruction_observer_wrappers_.end(),
      [observer](const auto& wrapper) { return wrapper->observer() == observer; });
  if (it == destruction_observer_wrappers_.end())
    return;
  destruction_observers_.RemoveObserver(it->get());
  // A wrapper being notified must outlive its notification; the walk's end
  // deletes them all.
  if (!notifying_destruction_observers_)
    destruction_observer_wrappers_.erase(it);
}

bool MessageLoop::RegisterIOHandler(HANDLE file,
                                    MessagePumpForIO::IOHandler* handler) {
  return io_pump()->RegisterIOHandler(file, handler);
}

bool MessageLoop::WaitForIOCompletion(DWORD timeout_ms,
                                      MessagePumpForIO::IOHandler* filter) {
  return io_pump()->WaitForIOCompletion(timeout_ms, filter);
}

void MessageLoop::ApplyPumpSetting(int32_t setting) {
  pump_->ApplySetting(setting);
}

void MessageLoop::SetNextSequenceNumberForTesting(int32_t sequence_num) {
  incoming_queue_->SetNextSequenceNumberForTesting(sequence_num);
}

bool MessageLoop::RunReadyTasks() {
  if (!nestable_tasks_allowed_)
    return false;
  for (;;) {
    if (WorkQueueEmpty())
      ReloadWorkQueue();
    if (WorkQueueEmpty())
      return false;
    while (!WorkQueueEmpty()) {
      // Moved out: a nested run inside the task may reload the queue.
      PostedTask task = TakeFromWorkQueue();
      if (!task.delayed_run_time.is_null()) {
        int32_t sequence_num = task.sequence_num;
        TickTime run_time = task.delayed_run_time;
        AddToDelayedQueue(std::move(task));
        if (delayed_work_queue_.front().sequence_num == sequence_num)
          pump_->SetWakeUpTime(run_time);
        continue;
      }
      if (RunOrDefer(task))
        return true;
    }
  }
}

bool MessageLoop::RunDueDelayedTask(TickTime* next_wake_up) {
  if (!nestable_tasks_allowed_ || delayed_work_queue_.empty()) {
    *next_wake_up = TickTime();
    recent_time_ = TickTime();
    return false;
  }
  // The clock is read only when the front task looks due by the cached time.
  TickTime run_time = delayed_work_queue_.front().delayed_run_time;
  if (run_time > recent_time_) {
    recent_time_ = TickTime::Now();
    if (run_time > recent_time_) {
      *next_wake_up = run_time;
      return false;
    }
  }
  PostedTask task = PopDelayedTask();
  if (!delayed_work_queue_.empty())
    *next_wake_up = delayed_work_queue_.front().delayed_run_time;
  return RunOrDefer(task);
}

bool MessageLoop::OnIdle() {
  if (CanRunNonNestable() && !deferred_non_nestable_queue_.empty()) {
    PostedTask task = std::move(deferred_non_nestable_queue_.front());
    deferred_non_nestable_queue_.pop_front();
    RunTask(task);
    return true;
  }
  if (current_runner_ && current_runner_->quit_when_idle())
    pump_->Quit();
  bool want_high_resolution = pending_high_resolution_tasks_ > 0;
  if (want_high_resolution != in_high_resolution_mode_) {
    in_high_resolution_mode_ = want_high_resolution;
    HighResolutionTimer::Activate(want_high_resolution);
  }
  return false;
}

std::unique_ptr<MessagePump> MessageLoop::MakePump() {
  std::unique_ptr<MessagePump> pump;
  if (pump_factory_)
    pump = pump_factory_.Run();
  else if (type_ == Type::kUI)
    pump = std::make_unique<MessagePumpForUI>();
  else if (type_ == Type::kIO)
    pump = std::make_unique<MessagePumpForIO>();
  else
    pump = std::make_unique<MessagePumpDefault>();
  CHECK(pump) << "The pump factory made no pump";
  return pump;
}

PostedTask MessageLoop::TakeFromWorkQueue() {
  return std::move(work_queue_[work_queue_head_++]);
}

void MessageLoop::ReloadWorkQueue() {
  work_queue_.clear();
  work_queue_head_ = 0;
  if (work_queue_.capacity() > kMaxRetainedQueueCapacity)
    std::vector<PostedTask>().swap(work_queue_);
  pending_high_resolution_tasks_ +=
      incoming_queue_->SwapInIncomingTasks(&work_queue_);
}

bool MessageLoop::RunOrDefer(PostedTask& task) {
  if (task.nestable || CanRunNonNestable()) {
    RunTask(task);
    return true;
  }
  deferred_non_nestable_queue_.push_back(std::move(task));
  return false;
}

bool MessageLoop::CanRunNonNestable() const {
  return current_runner_ && current_runner_->depth() == 1;
}

void MessageLoop::AddToDelayedQueue(PostedTask task) {
  delayed_work_queue_.push_back(std::move(task));
  std::push_heap(delayed_work_queue_.begin(), delayed_work_queue_.end(),
                 DelayedTaskOrder());
}

PostedTask MessageLoop::PopDelayedTask() {
  std::pop_heap(delayed_work_queue_.begin(), delayed_work_queue_.end(),
                DelayedTaskOrder());
  PostedTask task = std::move(delayed_work_queue_.back());
  delayed_work_queue_.pop_back();
  return task;
}

void MessageLoop::RunTask(PostedTask& task) {
  current_pending_task_ = &task;
  if (task.high_resolution && pending_high_resolution_tasks_ > 0)
    --pending_high_resolution_tasks_;
  nestable_tasks_allowed_ = false;
  {
    ScopedRunTaskTrace trace(task.posted_from);
    task_annotator_.RunTask(kQueueFunction, task);
  }
  current_pending_task_ = nullptr;
  nestable_tasks_allowed_ = true;
}

bool MessageLoop::DeletePendingTasks() {
  bool had_tasks = !WorkQueueEmpty() ||
                   !deferred_non_nestable_queue_.empty() ||
                   !delayed_work_queue_.empty();
  // Delayed tasks join the heap, so that all of them go in their run order.
  while (!WorkQueueEmpty()) {
    PostedTask task = TakeFromWorkQueue();
    if (!task.delayed_run_time.is_null())
      AddToDelayedQueue(std::move(task));
  }
  // Taken out first: a destroyed task may post, never into these queues,
  // but it must not see them half cleared either.
  std::deque<PostedTask> deferred;
  deferred.swap(deferred_non_nestable_queue_);
  deferred.clear();
  while (!delayed_work_queue_.empty())
    PopDelayedTask();
  return had_tasks;
}

void MessageLoop::NotifyDestructionObservers() {
  notifying_destruction_observers_ = true;
  for (StackCapturingDestructionObserver& observer : destruction_observers_)
    observer.OnLoopDestroying();
  notifying_destruction_observers_ = false;
  for (const auto& wrapper : destruction_observer_wrappers_)
    destruction_observers_.RemoveObserver(wrapper.get());
  destruction_observer_wrappers_.clear();
}

MessagePumpForIO* MessageLoop::io_pump() const {
  CHECK(type_ == Type::kIO && pump_) << "Not a bound I/O message loop";
  return static_cast<MessagePumpForIO*>(pump_.get());
}

}  // namespace base
