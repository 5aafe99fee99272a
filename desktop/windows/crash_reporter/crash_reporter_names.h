#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_REPORTER_NAMES_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_REPORTER_NAMES_H_

#include <cstdint>
#include <string>

namespace installer {

// The kernel objects through which an installer process and its crash
// reporter find each other. Empty when the name does not fit the 38
// characters the processes agree on.

// Signalled by the reporter once it serves; named after the installer
// process that launched it.
std::wstring GetCrashReporterInitEventName(uint32_t installer_pid);
// Named after the reporter.
std::wstring GetCrashReporterPipeName(uint32_t reporter_pid);
// Set by the reporter relaunched for a crashed reporter once it has what
// it needs of it; named after a number the crashed one draws at random, so
// that no other process can make it first.
std::wstring GetCrashReporterExceptionEventName(uint32_t event_id);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_REPORTER_NAMES_H_
