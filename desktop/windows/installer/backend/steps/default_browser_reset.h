#ifndef DESKTOP_WINDOWS_INSTALLER_BACKEND_STEPS_DEFAULT_BROWSER_RESET_H_
#define DESKTOP_WINDOWS_INSTALLER_BACKEND_STEPS_DEFAULT_BROWSER_RESET_H_

#include <string>
#include <vector>

#include "desktop/windows/installer/backend/installer_part.h"

namespace base {
class FilePath;
}

namespace installer {

class AssociationShell;

// What an uninstallation gives back to the system: the default browser
// (Internet Explorer again, as far as the system lets an installer), the
// firewall rule, and then the uninstall survey.
class DefaultBrowserReset : public InstallerPart {
 public:
  explicit DefaultBrowserReset(Installer* installer);

  void ResetDefaultBrowserAndShowSurvey(const base::FilePath& install_folder);
  // Makes Internet Explorer the default browser again through `shell`; with
  // `all_users` only once Internet Explorer's stored reinstall command ran.
  static void ResetDefaultBrowserToIe(bool all_users, AssociationShell* shell);
  // A variable the stored command may name, and its value as the system
  // tells it.
  struct MachineVariable {
    const wchar_t* name;
    std::wstring value;
  };
  // `stored` with each "%name%" among `variables` (any case) replaced by
  // its value; false when it names another, or one without a value. A lone
  // '%' stays as it is.
  static bool ExpandMachineVariables(
      const std::wstring& stored,
      const std::vector<MachineVariable>& variables,
      std::wstring* command);
  // Splits Internet Explorer's stored "ReinstallCommand" into the program
  // (quoted, or up to the first blank) and its arguments; false when no
  // program can be taken from it (empty, or an unclosed quote).
  static bool SplitReinstallCommand(const std::wstring& command,
                                    std::wstring* program,
                                    std::wstring* arguments);
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_BACKEND_STEPS_DEFAULT_BROWSER_RESET_H_
