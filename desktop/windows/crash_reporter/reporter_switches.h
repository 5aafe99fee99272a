#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_REPORTER_SWITCHES_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_REPORTER_SWITCHES_H_

#include <cstdint>

namespace installer {

// Given to a reporter relaunched for the crash of a reporter that was
// itself relaunched: its report is the short crash log with a minidump.
inline constexpr char kCrashReporterMinidumpSwitch[] =
    "crash-reporter-minidump";

// Given to a reporter relaunched for a crashed one: the number that names
// the event it sets once it has what it needs of the crashed one
// (GetCrashReporterExceptionEventName), drawn at random by the crashed one.
inline constexpr char kCrashReporterExceptionEventSwitch[] =
    "crash-reporter-exception-event";

// The process id of "crash-reporter-parent-id": decimal, no larger than 32
// bits. False when it is absent or is not such a number.
bool ParseParentProcessId(uint32_t* parent_pid);
// The number of kCrashReporterExceptionEventSwitch, read the same way.
bool ParseExceptionEventId(uint32_t* event_id);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_REPORTER_SWITCHES_H_
