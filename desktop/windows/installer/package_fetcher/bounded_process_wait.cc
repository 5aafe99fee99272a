#include "desktop/windows/installer/package_fetcher/bounded_process_wait.h"

#include "base/logging.h"
#include "base/process/process.h"

namespace installer {

ProcessWaitOutcome WaitForProcessWithLimit(const base::Process& process,
                                           HANDLE stop_event,
                                           DWORD time_limit_ms,
                                           DWORD* exit_code) {
  const HANDLE handles[] = {process.Handle(), stop_event};
  const DWORD count = stop_event ? 2 : 1;
  const DWORD result =
      ::WaitForMultipleObjects(count, handles, FALSE, time_limit_ms);
  if (result == WAIT_OBJECT_0) {
    if (::GetExitCodeProcess(process.Handle(), exit_code))
      return ProcessWaitOutcome::kExited;
    PLOG(ERROR) << "GetExitCodeProcess failed";
    return ProcessWaitOutcome::kFailed;
  }
  if (result == WAIT_FAILED)
    PLOG(ERROR) << "WaitForMultipleObjects failed";
  if (!::TerminateProcess(process.Handle(), 1))
    PLOG(ERROR) << "TerminateProcess failed";
  if (result == WAIT_TIMEOUT)
    return ProcessWaitOutcome::kTimedOut;
  if (result == WAIT_OBJECT_0 + 1)
    return ProcessWaitOutcome::kStopped;
  return ProcessWaitOutcome::kFailed;
}

}  // namespace installer
