#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_REPORTING_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_REPORTING_H_

#include <cstdint>

// What the installer's processes ask of crash reporting.

namespace installer {

// The crash-reporter role: this process serves the crash pipe of the
// installer process named by "crash-reporter-parent-id" and of the
// installer processes that are given its id, writes a crash log of each
// crashed one and uploads it, until the parent has ended and no crash or
// upload is in hand. 0 after an orderly end, -1 when it could not start
// serving.
int CrashReporterMain();
// First, in the crash-reporter role: the reporter's own crash handlers. A
// prepared reporter that crashes relaunches itself to report the crash.
void InstallCrashReporterExceptionFilter();
// The relaunched reporter ("crash-reporter-exception-info"): captures the
// crashed reporter named by "crash-reporter-parent-id", lets it end, and
// uploads its report, unless one went less than 3 days ago.
void HandleCrashReporterCrash();

// Every other role, at start-up, in this order:
// DisableUserModeExceptionFilterBit, StartCrashReporter, ConnectCrashHandler,
// SetInstallerCrashKeys. Failures are
// silent: the process then runs without crash reporting.

// Takes the reporter named by "crash-reporter-pid", else has
// ConnectCrashHandler launch one. A process that may run elevated takes it
// only when it runs elevated as the same user (PrivilegedPeer), and holds it
// to its end.
void StartCrashReporter();
// Once: installs the crash handler, registered with the reporter named on
// the command line, or else with one it launches, on a thread of its own
// once that serves, within 2 s: the process goes on meanwhile, also while a
// process that may run elevated proves the program it starts. A crash
// before then waits for that registration and is reported through it. Only
// the first crash of the process is reported; later crashing threads are
// parked.
void ConnectCrashHandler();
// Stores the installer's crash keys (with or without a reporter) and routes
// the base library's crash keys into the same store.
void SetInstallerCrashKeys();

// The process id of the reporter serving this process, 0 when none does;
// waits for a launched reporter's registration to end.
uint32_t GetCrashReporterPid();

// The reporter a child installer process is told of ("crash-reporter-pid"),
// 0 for none: the one this process registers with, once it has started.
// The child is not held up while it starts to serve: it waits for that on
// a thread of its own, as this process does. Only the launch, which holds
// this process's program, is waited for, as a child may set that program
// aside. One that may run elevated takes it only when it could be its own
// (a standard user's reporter is refused by the elevated process the
// user's run starts).
uint32_t CrashReporterPidForChild();

// Lets exceptions raised in callbacks from the kernel reach the process's
// filter instead of being swallowed. Does nothing where the system lacks
// the policy calls.
void DisableUserModeExceptionFilterBit();

namespace internal {
// Test-only: how long a launched reporter is waited for to serve (2 s) and
// a crash for its dump (15 s). Crashing test programs, and the library the
// tests run, wait on a busy machine as long as a hang guard instead.
struct CrashReportingWaits {
  uint32_t reporter_start_ms;
  uint32_t dump_ms;
};
void SetCrashReportingWaitsForTesting(uint32_t reporter_start_ms,
                                      uint32_t dump_ms);
CrashReportingWaits GetCrashReportingWaitsForTesting();
}  // namespace internal

}  // namespace installer

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_REPORTING_H_
