#ifndef DESKTOP_WINDOWS_INSTALLER_CRASH_REPORTER_PID_H_
#define DESKTOP_WINDOWS_INSTALLER_CRASH_REPORTER_PID_H_

#include <cstdint>

namespace installer {

// The process id of the crash reporter that serves this process, 0 when
// none does. Child installer processes are told it ("crash-reporter-pid")
// only when it is not 0.
//
// No crash reporter exists yet: this always answers 0 until crash
// reporting provides the real one.
uint32_t GetCrashReporterPid();

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_CRASH_REPORTER_PID_H_
