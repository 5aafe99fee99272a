#ifndef DESKTOP_WINDOWS_INSTALLER_BACKEND_STEPS_TEMPORARY_LEFTOVERS_H_
#define DESKTOP_WINDOWS_INSTALLER_BACKEND_STEPS_TEMPORARY_LEFTOVERS_H_

#include <string>
#include <string_view>
#include <vector>

namespace installer {

// The temporary files that runs may have left in the installation folder's
// root with no journal to name them: earlier versions staged copies there
// under the system's temporary names ("<1 to 4 hex digits>.tmp") and
// journaled neither the temporary files of their writes nor, in time, the
// copies; Wine's ReplaceFileW moves a replaced file aside under a scratch
// name of its own ("rf<hex>.tmp") and leaves it when the replacement fails;
// a preferences file that does not parse is set aside as ".bad" by any
// store that reads it. A process ended while one was there left it for
// good, and the folder with it. The uninstallation takes them by name.
class TemporaryLeftovers {
 public:
  TemporaryLeftovers() = delete;

  // Whether `name`, listed in the installation folder's root where the
  // installation keeps the files `root_names`, is such a leftover: a
  // write's temporary file of one of them or of a staged copy (at any depth:
  // a staged copy's own write), a staged copy or scratch file as named
  // above, or the installer prefs or a staged copy set aside as ".bad".
  static bool IsLeftover(std::wstring_view name,
                         const std::vector<std::wstring>& root_names);
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_BACKEND_STEPS_TEMPORARY_LEFTOVERS_H_
