#ifndef UTIL_FILE_ZIP_CRASH_LOG_H_
#define UTIL_FILE_ZIP_CRASH_LOG_H_

#include <string>

namespace util {

// Writes a new zip at `zip_path` holding the file at `source_path` as its
// one entry "crashlog.txt" (deflated, level 9). Paths are UTF-8 and may hold
// any character. An empty or unreadable source gives no zip; on any failure
// the zip is removed.
bool ZipCrashLog(const std::string& source_path, const std::string& zip_path);

}  // namespace util

#endif  // UTIL_FILE_ZIP_CRASH_LOG_H_
