#include "base/process/termination_status.h"

#include <cstdint>

namespace base {

namespace {

struct ExitCodeClass {
  uint32_t code;
  TerminationStatus status;
};

// Exit codes that mean the process was ended from outside or ran out of
// memory; any other non-zero code is a crash.
constexpr ExitCodeClass kExitCodeClasses[] = {
    {1, TerminationStatus::kProcessWasKilled},  // TerminateProcess(…, 1)
    {0x40010004, TerminationStatus::kProcessWasKilled},  // DBG_TERMINATE_PROCESS
    {0xC000013A, TerminationStatus::kProcessWasKilled},  // STATUS_CONTROL_C_EXIT
    {0xC0000354, TerminationStatus::kProcessWasKilled},  // STATUS_DEBUGGER_INACTIVE
    {7012, TerminationStatus::kOutOfMemory},
    {0xE0000008, TerminationStatus::kOutOfMemory},
};

void Store(int* exit_code, DWORD value) {
  if (exit_code)
    *exit_code = static_cast<int>(value);
}

}  // namespace

TerminationStatus GetTerminationStatus(HANDLE process, int* exit_code) {
  DWORD code = 0;
  // Without an exit code nothing says the process ended well.
  if (!::GetExitCodeProcess(process, &code))
    return TerminationStatus::kAbnormalTermination;
  if (code == STILL_ACTIVE) {
    // A process may also have exited with 259 itself.
    if (::WaitForSingleObject(process, 0) != WAIT_TIMEOUT)
      return TerminationStatus::kAbnormalTermination;
    Store(exit_code, WAIT_TIMEOUT);
    return TerminationStatus::kStillRunning;
  }
  Store(exit_code, code);
  if (code == 0)
    return TerminationStatus::kNormalTermination;
  for (const ExitCodeClass& entry : kExitCodeClasses) {
    if (entry.code == code)
      return entry.status;
  }
  return TerminationStatus::kProcessCrashed;
}

}  // namespace base
