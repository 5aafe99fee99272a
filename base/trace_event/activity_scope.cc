#include "base/trace_event/activity_scope.h"

#include <windows.h>

#include "base/posted_task.h"
#include "base/process/process.h"
#include "base/trace_event/activity_tracker.h"
#include "base/trace_event/global_activity_tracker.h"

namespace base {

namespace {

uint64_t Address(const void* pointer) {
  return reinterpret_cast<uintptr_t>(pointer);
}

}  // namespace

ActivityScope::~ActivityScope() {
  if (tracker_)
    tracker_->PopActivity();
}

void ActivityScope::Start(bool create, const void* program_counter,
                          const void* origin, uint8_t type, uint64_t data) {
  GlobalActivityTracker* global = GetGlobalActivityTracker();
  if (!global)
    return;
  tracker_ = create ? global->GetOrCreateTrackerForCurrentThread()
                    : global->GetTrackerForCurrentThread();
  if (tracker_) {
    tracker_->PushActivity(program_counter, origin,
                           static_cast<ActivityTracker::ActivityType>(type),
                           data);
  }
}

LockAcquireActivityScope::LockAcquireActivityScope(const void* program_counter,
                                                   const void* lock) {
  Start(false, program_counter, nullptr, ActivityTracker::kLockAcquire,
        Address(lock));
}

EventWaitActivityScope::EventWaitActivityScope(const void* program_counter,
                                               void* event_handle) {
  Start(false, program_counter, nullptr, ActivityTracker::kEventWait,
        Address(event_handle));
}

ThreadJoinActivityScope::ThreadJoinActivityScope(const void* program_counter,
                                                 void* thread_handle) {
  if (GetGlobalActivityTracker()) {
    Start(false, program_counter, nullptr, ActivityTracker::kThreadJoin,
          GetThreadId(thread_handle));
  }
}

TaskRunActivityScope::TaskRunActivityScope(const void* program_counter,
                                           const PostedTask& task) {
  Start(true, program_counter, task.posted_from.program_counter(),
        ActivityTracker::kTaskRun, static_cast<uint32_t>(task.sequence_num));
}

ProcessWaitActivityScope::ProcessWaitActivityScope(const Process& process) {
  if (GetGlobalActivityTracker()) {
    Start(false, __builtin_return_address(0), nullptr,
          ActivityTracker::kProcessWait, process.Pid());
  }
}

}  // namespace base
