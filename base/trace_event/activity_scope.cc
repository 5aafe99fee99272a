#include "base/trace_event/activity_scope.h"

namespace base {

// No tracker can be created yet, so the scopes below all stay empty; their
// constructors gain their recording when the tracker arrives.

GlobalActivityTracker* GetGlobalActivityTracker() {
  return nullptr;
}

void RecordLogMessageForActivityTracker(GlobalActivityTracker*, StringSlice) {}

ActivityScope::~ActivityScope() = default;

LockAcquireActivityScope::LockAcquireActivityScope(const void*, const void*) {}

EventWaitActivityScope::EventWaitActivityScope(const void*, void*) {}

ThreadJoinActivityScope::ThreadJoinActivityScope(const void*, void*) {}

TaskRunActivityScope::TaskRunActivityScope(const void*, const PostedTask&) {}

ProcessWaitActivityScope::ProcessWaitActivityScope(const Process&) {}

}  // namespace base
