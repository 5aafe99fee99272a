#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_LOG_DATA_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_LOG_DATA_H_

#include <string>
#include <utility>
#include <vector>

namespace installer {

// What a crash log says beside the crashed process's state: its header's
// product fields and the metadata lines, in the order added.
struct CrashLogData {
  std::string product_suffix;
  std::string version;
  std::string build_number;
  std::vector<std::pair<std::string, std::string>> metadata;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_LOG_DATA_H_
