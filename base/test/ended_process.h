#ifndef BASE_TEST_ENDED_PROCESS_H_
#define BASE_TEST_ENDED_PROCESS_H_

#include "base/process/launch.h"
#include "base/process/process.h"

namespace base {

// A process that has ended: the handle keeps its id from being reused while
// it is held, so the id names a dead owner for as long as a test needs one.
inline Process EndedProcess() {
  ProcessLaunchOptions options;
  Process process = LaunchProcess(L"cmd.exe /c exit 0", options);
  int exit_code = -1;
  if (process.IsValid())
    process.WaitForExit(&exit_code);
  return process;
}

}  // namespace base

#endif  // BASE_TEST_ENDED_PROCESS_H_
