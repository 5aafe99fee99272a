#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_PARAMETER_MAP_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_PARAMETER_MAP_H_

#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include "desktop/windows/crash_reporter/custom_info.h"
#include "desktop/windows/crash_reporter/debugged_process_state.h"

namespace installer {

// A crashed process's crash keys as the reporter reads them: the custom
// information entries it announced, with the chunks of long keys
// ("URL-1", "URL-2", ...) joined back under their key's name.
class ParameterMap {
 public:
  using Entries = std::map<std::wstring, std::wstring>;

  ParameterMap();
  ~ParameterMap();

  // Entries whose name is not 1 to 63 letters, digits and ".-_", or whose
  // value has no NUL, are skipped. A plain entry wins over chunks of the
  // same name; among entries of one name the first wins.
  static ParameterMap FromCustomInfo(const DumpInfoEntry* entries,
                                     size_t count);

  // Empty when the name is missing.
  const std::wstring& Get(const std::wstring& name) const;
  const Entries& entries() const { return entries_; }

 private:
  Entries entries_;
};

// The modules listed in a "modules" value: groups of name, base and size
// (hexadecimal) and full path, as "name:base:size:path::". Reading stops
// at the first group that is incomplete or whose numbers do not parse.
std::vector<FallbackModule> ParseFallbackModules(const std::wstring& value);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_PARAMETER_MAP_H_
