#ifndef BASE_PROCESS_TERMINATION_STATUS_H_
#define BASE_PROCESS_TERMINATION_STATUS_H_

#include <windows.h>

namespace base {

// How a process ended, as read from its exit code.
enum class TerminationStatus : int {
  kNormalTermination = 0,
  // Ended, but its exit code says otherwise or cannot be read.
  kAbnormalTermination = 1,
  kProcessWasKilled = 2,
  kProcessCrashed = 3,
  kStillRunning = 4,
  kOutOfMemory = 6,
};

// Classifies the process's exit code, stored in `exit_code` when given
// (WAIT_TIMEOUT while it still runs; untouched when the code is unknown).
TerminationStatus GetTerminationStatus(HANDLE process, int* exit_code);

}  // namespace base

#endif  // BASE_PROCESS_TERMINATION_STATUS_H_
