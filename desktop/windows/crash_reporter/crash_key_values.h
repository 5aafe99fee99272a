#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_KEY_VALUES_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_KEY_VALUES_H_

#include <string>

namespace installer {

// The values of the crash keys that an installer process computes from the
// system at start-up.

// "name:BASE:size:path::" for each loaded module of interest: the base as
// 16 upper-case hexadecimal digits, the size in lower-case hexadecimal.
std::string GetModulesCrashKeyValue();
// "0x%04x" of the user-mode exception policy; empty where the system lacks
// the query or it fails.
std::string GetExceptionPolicyCrashKeyValue();
// "1" or "0"; empty where the system cannot tell.
std::string GetIsWow64CrashKeyValue();

}  // namespace installer

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_KEY_VALUES_H_
