#ifndef DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_BOUNDED_PROCESS_WAIT_H_
#define DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_BOUNDED_PROCESS_WAIT_H_

#include <windows.h>

namespace base {
class Process;
}

namespace installer {

enum class ProcessWaitOutcome {
  kExited = 0,
  // The process ran past the time limit, or `stop_event` was set first: it
  // has been terminated.
  kTimedOut = 1,
  kStopped = 2,
  kFailed = 3,
};

// Waits for `process` to end, at most `time_limit_ms` and only until
// `stop_event` (may be null) is set; a process still running then is
// terminated, so that nothing it does outlives the wait. `exit_code` gets
// the exit code when the process exited.
ProcessWaitOutcome WaitForProcessWithLimit(const base::Process& process,
                                           HANDLE stop_event,
                                           DWORD time_limit_ms,
                                           DWORD* exit_code);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_BOUNDED_PROCESS_WAIT_H_
