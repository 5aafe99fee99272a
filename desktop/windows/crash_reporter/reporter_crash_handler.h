#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_REPORTER_CRASH_HANDLER_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_REPORTER_CRASH_HANDLER_H_

#include <windows.h>

#include <cstdint>

// A crash reporter cannot report its own crash through its own pipe:
// prepared at its start, its crash handlers relaunch its executable to
// capture it from outside, wait for that reporter to be done with it, and
// end the process. InstallCrashReporterExceptionFilter (in
// crash_reporting.h) installs them.

namespace installer {

// Once per process; the relaunched reporter gets "crash-reporter-minidump"
// when `with_minidump_switch` is set. Without its exception event or its
// own path the reporter stays unprepared, and a crash simply ends it.
void PrepareCrashReporterRelaunch(bool with_minidump_switch);

// The crash handlers, as the runtime calls them. Each ends the process
// (the filter through the system, with the exception's code).
LONG WINAPI ReporterExceptionFilter(EXCEPTION_POINTERS* pointers);
void __cdecl ReporterInvalidParameterHandler(const wchar_t* expression,
                                             const wchar_t* function,
                                             const wchar_t* file,
                                             unsigned int line,
                                             uintptr_t reserved);
void __cdecl ReporterPureCallHandler();

namespace internal {
// Test-only: how long a crashed reporter waits for the reporter it
// relaunched (20 s). Crashing test programs on a busy machine wait without
// limit instead.
void SetRelaunchWaitForTesting(uint32_t wait_ms);
}  // namespace internal

}  // namespace installer

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_REPORTER_CRASH_HANDLER_H_
