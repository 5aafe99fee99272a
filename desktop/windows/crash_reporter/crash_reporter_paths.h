#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_REPORTER_PATHS_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_REPORTER_PATHS_H_

#include <cstdint>

namespace base {
class FilePath;
}

namespace installer {

// Where the crash reporter keeps its files, set once at its start by
// GetCrashDirectory and only read afterwards, from any thread.

// Path-service keys the reporter reads (answered through overrides).
inline constexpr int kUserDataPathKey = 1002;
inline constexpr int kCounterFilePathKey = 2015;
inline constexpr int kCrashIdFilePathKey = 2016;
inline constexpr int kPreferencesFilePathKey = 2017;

// The crash folder is "TARVO_CRASH_LOG_DIR" (created when missing), else
// the temporary folder; the other paths are the path service's, empty when
// it has none. A process that may run elevated takes neither that variable
// nor "--user-data-dir" (see MayRunElevated). False when there is no crash
// folder.
bool GetCrashDirectory();

const base::FilePath& GetCrashDirectoryPath();
const base::FilePath& GetCounterFilePath();
const base::FilePath& GetPreferencesFilePath();
// With the crash folder overridden, a file of that folder.
const base::FilePath& GetCrashIdFilePath();
bool IsCrashLogDirOverridden();

// 1 for the first crash of the reporter process, then 2, ... Any thread.
uint32_t NextCrashNumber();

}  // namespace installer

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_REPORTER_PATHS_H_
