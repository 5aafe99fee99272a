#ifndef BASE_TRACE_EVENT_ACTIVITY_SCOPE_H_
#define BASE_TRACE_EVENT_ACTIVITY_SCOPE_H_

#include "base/strings/string_slice.h"

namespace base {

class GlobalActivityTracker;
class PostedTask;
class Process;

// The process-wide activity tracker, or null while there is none (as there is
// none until diagnostics creates one). Every scope below records nothing
// without it.
GlobalActivityTracker* GetGlobalActivityTracker();

// Records the text of a FATAL log message; only called with a tracker.
void RecordLogMessageForActivityTracker(GlobalActivityTracker* tracker,
                                        StringSlice text);

// Records, while it lives, what the calling thread is waiting for or running,
// so that a crash dump shows it. Ends the activity on destruction; an empty
// scope (nothing recorded) ends nothing.
class ActivityScope {
 public:
  ActivityScope(const ActivityScope&) = delete;
  ActivityScope& operator=(const ActivityScope&) = delete;
  ~ActivityScope();

 protected:
  ActivityScope() = default;
};

// `program_counter` is the caller's code address, for the dump.
class LockAcquireActivityScope : public ActivityScope {
 public:
  LockAcquireActivityScope(const void* program_counter, const void* lock);
};

class EventWaitActivityScope : public ActivityScope {
 public:
  EventWaitActivityScope(const void* program_counter, void* event_handle);
};

class ThreadJoinActivityScope : public ActivityScope {
 public:
  ThreadJoinActivityScope(const void* program_counter, void* thread_handle);
};

class TaskRunActivityScope : public ActivityScope {
 public:
  TaskRunActivityScope(const void* program_counter, const PostedTask& task);
};

class ProcessWaitActivityScope : public ActivityScope {
 public:
  explicit ProcessWaitActivityScope(const Process& process);
};

}  // namespace base

#endif  // BASE_TRACE_EVENT_ACTIVITY_SCOPE_H_
