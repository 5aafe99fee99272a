#ifndef BASE_WIN_PROCESS_PROBES_H_
#define BASE_WIN_PROCESS_PROBES_H_

namespace base::win {

// False when this process's mitigation policy forbids Win32k system calls
// (Windows 8 and later); computed once.
bool IsWin32kCallsAllowed();

// True when this module's image carries the sections an instrumenting
// rewriter adds (".thunks" and ".instrum"); computed once.
bool IsImageInstrumented();

}  // namespace base::win

#endif  // BASE_WIN_PROCESS_PROBES_H_
