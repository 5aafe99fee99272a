#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_OWN_CRASH_LOG_WRITER_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_OWN_CRASH_LOG_WRITER_H_

#include <windows.h>

#include <cstdint>

namespace base {
class FilePath;
}

namespace installer {

struct CrashLogData;

// The short crash log of a crashed crash reporter: the header, the
// exception, the metadata and, after "minidump:", the raw bytes of its
// minidump (at most `dump_limit` of them). `info_address` is where the
// crashed reporter keeps its CrashExceptionInfo. Written into a crash file
// made new under `path` (see CrashFile), whose name is given in
// `made_path`; on failure no file is left.
bool WriteOwnCrashLog(DWORD process_id,
                      uint64_t info_address,
                      const CrashLogData& data,
                      const base::FilePath& path,
                      uint64_t dump_limit,
                      base::FilePath* made_path = nullptr);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_OWN_CRASH_LOG_WRITER_H_
