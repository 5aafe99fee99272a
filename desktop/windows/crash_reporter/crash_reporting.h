#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_REPORTING_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_REPORTING_H_

#include <cstdint>

// What the installer's processes ask of crash reporting.
//
// No crash reporter yet: this build has neither the reporter process nor
// the in-process crash handler, so the calls below that would start,
// connect or serve one do nothing and say that no reporter serves the
// process. A crash ends the process with its exception code, unreported.

namespace installer {

// The crash-reporter role. No crash reporter yet: do nothing.
void InstallCrashReporterExceptionFilter();
void HandleCrashReporterCrash();
void CrashReporterMain();

// Every other role. No crash reporter yet: StartCrashReporter is false and
// the other two do nothing.
bool StartCrashReporter();
void ConnectCrashHandler();
void SetInstallerCrashKeys();

// The process id of the reporter serving this process, 0 when none does
// (always, in this build). Child installer processes are told it
// ("crash-reporter-pid") only when it is not 0.
uint32_t GetCrashReporterPid();

// Lets exceptions raised in callbacks from the kernel reach the process's
// filter instead of being swallowed. Works without a reporter; does nothing
// where the system lacks the policy calls.
void DisableUserModeExceptionFilterBit();

}  // namespace installer

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_REPORTING_H_
