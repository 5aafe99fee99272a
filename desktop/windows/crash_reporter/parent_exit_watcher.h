#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_PARENT_EXIT_WATCHER_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_PARENT_EXIT_WATCHER_H_

#include <windows.h>

#include <atomic>
#include <cstdint>

#include "base/win/scoped_handle.h"
#include "desktop/windows/crash_reporter/scoped_thread_pool_wait.h"

namespace installer {

class ReporterQuitSignal;

// Holds the crash reporter's quit signal while the installer process it was
// started for runs. The hold is released exactly once: when the parent
// ends, or on Cancel, whichever comes first.
class ParentExitWatcher {
 public:
  explicit ParentExitWatcher(ReporterQuitSignal* quit_signal);
  ParentExitWatcher(const ParentExitWatcher&) = delete;
  ParentExitWatcher& operator=(const ParentExitWatcher&) = delete;
  ~ParentExitWatcher();

  bool Watch(uint32_t parent_pid);
  void Cancel();

 private:
  static void CALLBACK OnParentExit(void* watcher, BOOLEAN timed_out);
  void Disarm();

  ReporterQuitSignal* const quit_signal_;
  std::atomic<int32_t> armed_{0};
  base::win::ScopedHandle parent_;
  ScopedThreadPoolWait wait_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_PARENT_EXIT_WATCHER_H_
