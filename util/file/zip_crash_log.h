#ifndef UTIL_FILE_ZIP_CRASH_LOG_H_
#define UTIL_FILE_ZIP_CRASH_LOG_H_

#include <string>

namespace util {

// Writes a new zip at `zip_path` holding the file at `source_path` as its
// one entry "crashlog.txt" (deflated, level 9). Paths are UTF-8 and may hold
// any character. The zip is made new, never through a name that exists or a
// link (a taken name gives way to "<name>_2.zip" and on, given in
// `made_path`), and the source is read only as the file it names, never
// through a link. An empty or unreadable source gives no zip; on any
// failure the zip is removed.
bool ZipCrashLog(const std::string& source_path,
                 const std::string& zip_path,
                 std::string* made_path = nullptr);

}  // namespace util

#endif  // UTIL_FILE_ZIP_CRASH_LOG_H_
