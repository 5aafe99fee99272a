#ifndef BASE_PROCESS_PROCESS_INFO_H_
#define BASE_PROCESS_PROCESS_INFO_H_

#include <windows.h>

namespace base {

// The id of the process that started `process`, from a snapshot of all
// processes; 0 when it cannot be found.
DWORD GetParentProcessId(HANDLE process);

}  // namespace base

#endif  // BASE_PROCESS_PROCESS_INFO_H_
