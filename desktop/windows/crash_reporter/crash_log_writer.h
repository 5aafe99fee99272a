#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_LOG_WRITER_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_LOG_WRITER_H_

#include <string>

namespace base {
class FilePath;
}

namespace installer {

class CrashFile;
struct CrashLogData;
class MemoryRangeSet;
class ProcessState;

// Writes the text crash log of `state` to `file` (lines end in CR LF): the
// header, the exception, the metadata, every thread with its registers and
// stack, the modules, and dumps of the memory that registers and stack
// slots point to, within a budget. `ranges` is emptied first and left
// holding the dumped memory.
bool WriteCrashLog(MemoryRangeSet* ranges,
                   const ProcessState& state,
                   const CrashLogData& data,
                   CrashFile* file);
// The same into a crash file made new under `path` (see CrashFile), whose
// name is given in `made_path`. On failure the file is deleted.
bool WriteCrashLog(MemoryRangeSet* ranges,
                   const ProcessState& state,
                   const CrashLogData& data,
                   const base::FilePath& path,
                   base::FilePath* made_path = nullptr);

// `value` as a metadata line quotes it: backslash, double quote, carriage
// return and line feed escaped with a backslash, so that text from the
// crashed process cannot end its line or start another.
std::string EscapeMetadataValue(const std::string& value);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_LOG_WRITER_H_
