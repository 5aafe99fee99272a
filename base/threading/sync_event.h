#ifndef BASE_THREADING_SYNC_EVENT_H_
#define BASE_THREADING_SYNC_EVENT_H_

#include <windows.h>

#include "base/time/tick_time.h"
#include "base/time/time_delta.h"
#include "base/win/scoped_handle.h"

namespace base {

// A waitable Windows event. Timed waits never return false before their end
// as the tick clock sees it; every wait is recorded for diagnostics.
class SyncEvent {
 public:
  enum class ResetMode {
    kManual = 0,     // Stays signalled until reset.
    kAutomatic = 1,  // A successful wait resets it.
  };
  enum class InitialState {
    kSignaled = 0,
    kNotSignaled = 1,
  };

  // Failing to create the event is a fatal trap.
  SyncEvent(ResetMode reset_mode, InitialState initial_state);
  SyncEvent(const SyncEvent&) = delete;
  SyncEvent& operator=(const SyncEvent&) = delete;

  void Signal();
  // Waits without a time limit.
  void Wait();
  // True when signalled within `delta`; a zero delta only polls.
  bool WaitFor(TimeDelta delta);
  // True when signalled before `end`; a null or past end only polls.
  bool WaitUntil(TickTime end);

 private:
  win::ScopedHandle handle_;
};

// Waits on `handle` until it is signalled (true) or the tick clock reaches
// `end` (false), waiting at least 1 ms. A handle that cannot be waited on
// (closed, invalid) gives false at once.
bool WaitForEventUntil(HANDLE handle, TickTime now, TickTime end);

}  // namespace base

#endif  // BASE_THREADING_SYNC_EVENT_H_
