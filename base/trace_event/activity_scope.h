#ifndef BASE_TRACE_EVENT_ACTIVITY_SCOPE_H_
#define BASE_TRACE_EVENT_ACTIVITY_SCOPE_H_

#include <cstdint>

#include "base/strings/string_slice.h"

namespace base {

class ActivityTracker;
class GlobalActivityTracker;
class PostedTask;
class Process;

// The process-wide activity tracker, or null while there is none (always,
// outside tests). Every scope below records nothing without it.
GlobalActivityTracker* GetGlobalActivityTracker();

// Records the text of a FATAL log message; only called with a tracker.
void RecordLogMessageForActivityTracker(GlobalActivityTracker* tracker,
                                        StringSlice text);

// Records, while it lives, what the calling thread is waiting for or running
// on the thread's activity tracker, so that another process can see it.
// Ends the activity on destruction; an empty scope (nothing recorded) ends
// nothing.
class ActivityScope {
 public:
  ActivityScope(const ActivityScope&) = delete;
  ActivityScope& operator=(const ActivityScope&) = delete;
  ~ActivityScope();

 protected:
  ActivityScope() = default;

  // Pushes the activity on the thread's tracker, made first when `create`
  // and the thread has none.
  void Start(bool create, const void* program_counter, const void* origin,
             uint8_t type, uint64_t data);

 private:
  ActivityTracker* tracker_ = nullptr;
};

// `program_counter` is the caller's code address.
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

// Gives the thread a tracker when it has none.
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
