#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_FILE_NAMES_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_FILE_NAMES_H_

#include <cstdint>
#include <string>

namespace base {
class FilePath;
}

namespace installer {

// "<product>-crashlog-<reporter pid>-<crash number>.txt", the product name
// in lower case: unique per crash of a reporter process.
std::wstring CrashTextFileName(uint32_t crash_number);
// The same with ".dmp".
std::wstring CrashDumpFileName(uint32_t crash_number);
// Where the crash's id is written. In an overridden crash folder, one file
// per crash ("<name>.-<pid>-<number>"); empty when there is none.
base::FilePath CrashIdFileName(uint32_t crash_number);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_FILE_NAMES_H_
