#include "base/message_loop/task_annotator.h"

#include <windows.h>

#include <utility>

#include "base/closure.h"
#include "base/lazy_global.h"
#include "base/metrics/task_stopwatch.h"
#include "base/metrics/thread_tally.h"
#include "base/posted_task.h"
#include "base/threading/tls_slot.h"
#include "base/time/tick_time.h"
#include "base/trace_event/activity_scope.h"
#include "base/trace_event/trace_log.h"

namespace base {

namespace {

constexpr char kFlowCategory[] = "disabled-by-default-toplevel.flow";
constexpr char kQueueDurationArgument[] = "queue_duration";

// Each thread's running task, in a Windows TLS slot: the compiler's own
// thread_local costs a function call per access here, on every post and run.
struct RunningTaskSlot {
  RunningTaskSlot() { slot.Initialize(nullptr); }
  TlsSlot slot;
};
constinit LazyGlobalInstance<RunningTaskSlot> g_running_task_slot(
    LazyGlobalLifetime::kLeaky);

TlsSlot& RunningTask() {
  return g_running_task_slot.Get()->slot;
}

const uint8_t* FlowCategoryFlag() {
  static const uint8_t* const flag =
      TraceLog::GetCategoryEnabledFlag(kFlowCategory);
  return flag;
}

bool FlowEnabled() {
  return (*FlowCategoryFlag() & kCategoryGroupEnabledMask) != 0;
}

// Makes the compiler keep `values` in memory up to here, so that a crash
// dump of the frame shows them.
void KeepForCrashDump(const void* values) {
  asm volatile("" : : "r"(values) : "memory");
}

// Milliseconds on the task-tracking clock when the task became due.
uint32_t QueueStartMs(const PostedTask& task) {
  if (task.delayed_run_time.is_null())
    return task.posted_time;
  int64_t ms = (task.delayed_run_time - TickTime()).InMilliseconds();
  return static_cast<uint32_t>(ms);
}

class RunningTaskScope {
 public:
  explicit RunningTaskScope(PostedTask& task)
      : slot_(RunningTask()), previous_(slot_.Get()) {
    slot_.Set(&task);
  }
  RunningTaskScope(const RunningTaskScope&) = delete;
  RunningTaskScope& operator=(const RunningTaskScope&) = delete;
  ~RunningTaskScope() { slot_.Set(previous_); }

 private:
  TlsSlot& slot_;
  void* previous_;
};

}  // namespace

// static
const PostedTask* TaskAnnotator::CurrentTaskForThread() {
  return static_cast<const PostedTask*>(RunningTask().Get());
}

uint64_t TaskAnnotator::FlowId(const PostedTask& task) const {
  uint64_t address = reinterpret_cast<uintptr_t>(this);
  return (static_cast<uint64_t>(static_cast<uint32_t>(task.sequence_num))
          << 32) |
         (address & 0xFFFFFFFFu);
}

void TaskAnnotator::DidQueueTask(const char* queue_function,
                                 const PostedTask& task) {
  if (!FlowEnabled())
    return;
  TraceLog* log = TraceLog::GetInstance();
  TraceEventHandle handle = log->AddEvent(
      kTracePhaseComplete, FlowCategoryFlag(), queue_function, FlowId(task), 0,
      GetCurrentThreadId(), TickTime::Now().ToInternalValue(), 0, nullptr,
      nullptr, nullptr, kTraceFlagsTaskFlowOut);
  log->CompleteEventDuration(FlowCategoryFlag(), queue_function, handle);
}

void TaskAnnotator::RunTask(const char* queue_function, PostedTask& task) {
  TaskRunActivityScope activity(task.posted_from.program_counter(), task);
  TaskStopwatch stopwatch;
  stopwatch.Start();
  int32_t queue_duration_ms = static_cast<int32_t>(
      static_cast<uint32_t>(stopwatch.start_time_ms()) - QueueStartMs(task));

  TraceEventHandle flow = 0;
  if (FlowEnabled()) {
    const char* names[] = {kQueueDurationArgument};
    const uint8_t types[] = {kTraceArgumentInt};
    const uint64_t values[] = {static_cast<uint64_t>(queue_duration_ms)};
    flow = TraceLog::GetInstance()->AddEvent(
        kTracePhaseComplete, FlowCategoryFlag(), queue_function, FlowId(task),
        0, GetCurrentThreadId(), TickTime::Now().ToInternalValue(), 1, names,
        types, values, kTraceFlagsTaskFlowIn);
  }

  const void* origin[1 + PostedTask::kTaskChainLength] = {
      task.posted_from.program_counter()};
  for (int i = 0; i < PostedTask::kTaskChainLength; ++i)
    origin[1 + i] = task.task_chain[i];

  {
    RunningTaskScope running(task);
    // The bound values go right after the run, not when the task is freed.
    Closure closure = std::move(task.task);
    closure.Run();
  }
  KeepForCrashDump(origin);

  stopwatch.Stop();
  if (task.birth)
    RecordTaskRunInTally(task, stopwatch, task.birth);
  if (flow)
    TraceLog::GetInstance()->CompleteEventDuration(FlowCategoryFlag(),
                                                   queue_function, flow);
}

}  // namespace base
