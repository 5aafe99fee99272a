#ifndef BASE_PROCESS_SUSPENDED_CHILD_H_
#define BASE_PROCESS_SUSPENDED_CHILD_H_

#include <windows.h>

#include "base/win/scoped_handle.h"

namespace base {

// A child that LaunchProcess created with its main thread suspended
// (ProcessLaunchOptions::suspended_child), for its starter to look at before
// any of its code runs. Until it is resumed it is held: nobody but its
// starter would ever resume it, so a process that ends on purpose ends each
// child it still holds (EndAllForGood) instead of leaving it waiting for
// good, as a kill-on-close job would, also where it has no such job (before
// Windows 8, a process in a job that takes no other). A child let go
// unresumed is ended. Used by the thread that launched it; it stays where
// it was made, as the list of held children points to it.
class SuspendedChild {
 public:
  SuspendedChild();
  SuspendedChild(const SuspendedChild&) = delete;
  SuspendedChild& operator=(const SuspendedChild&) = delete;
  ~SuspendedChild();

  // For LaunchProcess, which holds the start lock (GetChildStartLock): takes
  // over the suspended child. False, nothing held, when no handle of its own
  // to `process` can be had.
  [[nodiscard]] bool Hold(HANDLE process, win::ScopedHandle main_thread);
  bool IsHeld() const { return process_.IsValid(); }

  // Lets the child run, and go. False, with the Windows error left as the
  // last error, when its thread could not be resumed: it is still held.
  [[nodiscard]] bool Resume();
  // Ends the held child with `exit_code` and lets it go.
  void End(UINT exit_code);

  // For a process about to end, with the start lock held for good: ends
  // every child still held and resumes none from now on. A list that a
  // crashed thread holds, or that stays taken too long, is left as it is.
  static void EndAllForGood();

 private:
  void Release();

  win::ScopedHandle process_;
  win::ScopedHandle main_thread_;
};

}  // namespace base

#endif  // BASE_PROCESS_SUSPENDED_CHILD_H_
