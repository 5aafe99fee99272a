#include "base/worker_pool.h"

#include <windows.h>

#include <memory>
#include <utility>

#include "base/location.h"
#include "base/metrics/task_stopwatch.h"
#include "base/metrics/thread_tally.h"
#include "base/posted_task.h"
#include "base/trace_event/thread_trace_context.h"
#include "base/trace_event/trace_log.h"

namespace base {

namespace {

// Set only while a task of ours runs: the pool's threads are the system's
// and run other work too. (thread_local for the reasons given in
// current_task_runner_handle.cc.)
constinit thread_local bool t_running_pool_task = false;

// The trace event around one task run, when the "toplevel" group records.
class ScopedRunTraceEvent {
 public:
  explicit ScopedRunTraceEvent(const SourceLocation& location) {
    static const uint8_t* const enabled =
        TraceLog::GetCategoryEnabledFlag("toplevel");
    if (!(*enabled & kCategoryGroupEnabledMask))
      return;
    enabled_ = enabled;
    const char* const names[] = {"src_file", "src_func"};
    const uint8_t types[] = {kTraceArgumentString, kTraceArgumentString};
    const uint64_t values[] = {
        reinterpret_cast<uint64_t>(location.file_name()),
        reinterpret_cast<uint64_t>(location.function_name())};
    handle_ = TraceLog::GetInstance()->AddEvent(
        kTracePhaseComplete, enabled_, kEventName, 0, 0, GetCurrentThreadId(),
        TickTime::Now().ToInternalValue(), 2, names, types, values, 0);
  }
  ScopedRunTraceEvent(const ScopedRunTraceEvent&) = delete;
  ScopedRunTraceEvent& operator=(const ScopedRunTraceEvent&) = delete;
  ~ScopedRunTraceEvent() {
    if (enabled_ && (*enabled_ & kCategoryGroupEnabledMask))
      TraceLog::GetInstance()->CompleteEventDuration(enabled_, kEventName,
                                                     handle_);
  }

 private:
  static constexpr char kEventName[] = "WorkerThread::ThreadMain::Run";

  const uint8_t* enabled_ = nullptr;
  TraceEventHandle handle_ = 0;
};

// Pushes the task's file name on the thread's trace context while heap
// profiling captures contexts.
class ScopedTraceContext {
 public:
  explicit ScopedTraceContext(const char* context) {
    if (ThreadTraceContext::capture_mode() == 0)
      return;
    trace_context_ = ThreadTraceContext::GetForCurrentThread();
    if (trace_context_)
      trace_context_->PushContext(context);
  }
  ScopedTraceContext(const ScopedTraceContext&) = delete;
  ScopedTraceContext& operator=(const ScopedTraceContext&) = delete;
  ~ScopedTraceContext() {
    if (trace_context_)
      trace_context_->PopContext();
  }

 private:
  ThreadTraceContext* trace_context_ = nullptr;
};

void RunPostedTask(PostedTask& task) {
  t_running_pool_task = true;
  TaskStopwatch stopwatch;
  stopwatch.Start();
  {
    // Moved out so that the bound values go right after the run.
    Closure closure = std::move(task.task);
    closure.Run();
  }
  stopwatch.Stop();
  t_running_pool_task = false;
  if (task.birth)
    RecordTaskRunInTally(task, stopwatch, task.birth);
}

DWORD CALLBACK WorkerThreadMain(void* parameter) {
  std::unique_ptr<PostedTask> task(static_cast<PostedTask*>(parameter));
  ScopedRunTraceEvent trace_event(task->posted_from);
  ScopedTraceContext trace_context(task->posted_from.file_name());
  RunPostedTask(*task);
  task.reset();
  return 0;
}

}  // namespace

// static
bool WorkerPool::PostTask(const SourceLocation& from_here, Closure task,
                          bool task_is_slow) {
  auto posted = std::make_unique<PostedTask>(from_here, std::move(task),
                                             TickTime(), /*nestable=*/true);
  ULONG flags = task_is_slow ? WT_EXECUTELONGFUNCTION : WT_EXECUTEDEFAULT;
  if (!QueueUserWorkItem(&WorkerThreadMain, posted.get(), flags))
    return false;
  // The worker owns the task from here on.
  posted.release();
  return true;
}

// static
bool WorkerPool::RunsTasksOnCurrentThread() {
  return t_running_pool_task;
}

}  // namespace base
