#ifndef BASE_THREADING_OS_THREAD_H_
#define BASE_THREADING_OS_THREAD_H_

#include <windows.h>

#include <cstdint>

#include "base/strings/string_slice.h"
#include "base/time/time_delta.h"

namespace base {

namespace win {
class ScopedHandle;
}

// What a thread started here runs.
class ThreadDelegate {
 public:
  virtual void ThreadMain() = 0;
  virtual ~ThreadDelegate() = default;
};

enum class ThreadPriority : int32_t {
  kLow = 0,           // THREAD_PRIORITY_LOWEST
  kNormal = 1,        // left as the system made it
  kAboveNormal = 2,   // THREAD_PRIORITY_ABOVE_NORMAL
  kTimeCritical = 3,  // THREAD_PRIORITY_TIME_CRITICAL
};

// Starts an OS thread that runs `delegate->ThreadMain()` under the thread
// name registry. A `stack_size` of 0 takes the process default. The thread's
// handle goes to `handle` (when given; else it is closed at once). False when
// the system refuses the thread.
bool CreateOsThread(uint64_t stack_size, ThreadDelegate* delegate,
                    win::ScopedHandle* handle, ThreadPriority priority);
bool CreateOsThreadNonJoinable(uint64_t stack_size, ThreadDelegate* delegate,
                               ThreadPriority priority);

// Waits without limit for the thread to end, then closes its handle. A
// failed wait is a fatal trap.
void JoinOsThread(win::ScopedHandle& handle);

// Sleeps until `delta` has elapsed on the tick clock; never returns early.
// The maximum delta sleeps forever.
void SleepUntilElapsed(TimeDelta delta);

// Names the calling thread: in the thread name registry, for task tracking
// and, where the system supports it, as the OS thread description (also seen
// by an attached debugger). `name` is UTF-8.
void SetCurrentThreadName(StringSlice name);

namespace internal {

// The `Sleep` count for a remaining time: rounded up to whole milliseconds,
// INFINITE only for the maximum delta, else at most INFINITE - 1.
DWORD SleepMilliseconds(TimeDelta remaining);

}  // namespace internal

}  // namespace base

#endif  // BASE_THREADING_OS_THREAD_H_
