#ifndef DESKTOP_WINDOWS_INSTALLER_SETTINGS_PACKAGE_ACCEPTANCE_H_
#define DESKTOP_WINDOWS_INSTALLER_SETTINGS_PACKAGE_ACCEPTANCE_H_

#include <optional>
#include <string>

#include "base/files/file_path.h"
#include "desktop/windows/installer/settings/settings.h"

namespace installer {

class Status;

// Whether a package may go into an installation folder: never a build older
// than the installation there. An older package's own code knows nothing of
// the newer installation it would go over, so every process that learns a
// package's version before that code runs (the front end's runner, the
// elevated backend that unpacks the package itself, the folder-permission
// role) asks here first. A refusal changes nothing: the run ends with it.
class PackageAcceptance {
 public:
  struct Refusal {
    int message_id = 0;
    // The message's argument: the installed version.
    std::wstring detail;
    std::string diagnostic;
  };

  // Of a package of internal version `package_version` ("build.patch") for
  // `operation` in the folder `status` describes (null: not known yet). A
  // version that does not read as its form proves nothing: accepted, for
  // the process that learns it to judge again.
  static std::optional<Refusal> Judge(const std::string& package_version,
                                      Settings::Operation operation,
                                      const Status* status);
  // The same for an installation of the package into `folder`, by the
  // folder's own install log, for a process that has no settings.
  static std::optional<Refusal> JudgeFolder(const std::string& package_version,
                                            const base::FilePath& folder);

 private:
  static std::optional<Refusal> JudgeInstalled(
      const std::string& package_version,
      const std::string& installed_version);
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SETTINGS_PACKAGE_ACCEPTANCE_H_
