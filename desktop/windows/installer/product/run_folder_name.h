#ifndef DESKTOP_WINDOWS_INSTALLER_RUN_FOLDER_NAME_H_
#define DESKTOP_WINDOWS_INSTALLER_RUN_FOLDER_NAME_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/time/time.h"

namespace installer {

// The name of what one installer run leaves in a folder (its journal, its
// log, its downloads and unpacked package): "<prefix>_<14 digits>_<pid>",
// the digits the time the run made it, "yyyymmddhhmmss" in UTC. The next
// run tells from it whose entry it is, and so whether its owner is gone.
// Every maker and reader of such a name goes through here.
class RunFolderName {
 public:
  // The longest "_<14 digits>_<pid>" that follows a prefix.
  static constexpr size_t kLongestSuffix = 1 + 14 + 1 + 10;

  // UTC, so that the names of successive runs sort in the order they were
  // made across a daylight-saving change or a move of the time zone.
  static std::wstring Make(std::wstring_view prefix, base::Time time,
                           uint32_t pid);
  // The name this process gives its entries, now.
  static std::wstring MakeForThisRun(std::wstring_view prefix);

  // Reads "<prefix>_<14 digits>_<pid>", optionally followed by "." and
  // anything (an extension); the digits are read as a shape only, so the
  // local-time names of earlier versions still parse. Empty for any other
  // name: no prefix, another digit count, a pid that is not a 32-bit number
  // above 0, a name longer than a path can be.
  static std::optional<RunFolderName> Parse(std::wstring_view name);

  const std::wstring& prefix() const { return prefix_; }
  const std::wstring& time_digits() const { return time_digits_; }
  uint32_t pid() const { return pid_; }

 private:
  RunFolderName(std::wstring prefix, std::wstring time_digits, uint32_t pid);

  std::wstring prefix_;
  std::wstring time_digits_;
  uint32_t pid_ = 0;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_RUN_FOLDER_NAME_H_
