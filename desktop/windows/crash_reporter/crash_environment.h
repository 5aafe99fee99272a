#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_ENVIRONMENT_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_ENVIRONMENT_H_

#include <string>

#include "base/strings/string_slice.h"

namespace installer {

// The environment variables that configure crash reporting. Read afresh at
// every use; a variable that is not set reads as empty.
inline constexpr char kCrashLogDirVariable[] = "TARVO_CRASH_LOG_DIR";
inline constexpr char kTvautoTestVariable[] =
    "TARVO_CRASH_REPORTER_TVAUTO_TEST";
inline constexpr char kCrashOriginVariable[] = "TARVO_CRASH_ORIGIN";
inline constexpr char kCrashServerUrlVariable[] = "TARVO_CRASH_SERVER_URL";
inline constexpr char kAlternativeCrashServerUrlVariable[] =
    "TARVO_ALTERNATIVE_CRASH_SERVER_URL";

// UTF-8; empty when not set.
std::string GetEnvironmentValue(base::StringSlice name);
// `default_value` when not set; else true for exactly "1", or "YES" or "TRUE"
// in any ASCII case.
bool GetEnvironmentFlag(base::StringSlice name, bool default_value);

// A variable that names a place the process writes, reads or sends crashes
// to (a folder, a server): empty in a process that may run elevated, where
// the user would choose it. Values sent as they are (an e-mail address, an
// origin) and the keep-logs flag (files stay in the crash folder) are read
// everywhere.
std::string GetPlaceVariable(base::StringSlice name);

// The folder for crash logs and dumps; empty means "the default one".
std::string GetCrashLogDirOverride();

// Named after the product: "<PRODUCT>_CRASH_EMAIL",
// "<PRODUCT>_CRASH_KEEP_LOGS".
std::string GetCrashEmailVariableName();
std::string GetKeepLogsVariableName();
std::string GetCrashEmail();
bool ShouldKeepCrashLogs(bool default_value);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_ENVIRONMENT_H_
