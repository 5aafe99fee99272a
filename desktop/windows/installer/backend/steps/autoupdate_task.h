#ifndef DESKTOP_WINDOWS_INSTALLER_BACKEND_STEPS_AUTOUPDATE_TASK_H_
#define DESKTOP_WINDOWS_INSTALLER_BACKEND_STEPS_AUTOUPDATE_TASK_H_

#include <string>

#include "desktop/windows/installer/backend/installer_part.h"

namespace base {
class FilePath;
}

namespace installer {

// The scheduled task that runs the installation's autoupdate: made by the
// finalize step, named after the installation's application id, and
// removed with the installation.
class AutoupdateTask : public InstallerPart {
 public:
  explicit AutoupdateTask(Installer* installer);

  bool ShouldCreateAutoupdateTask() const;
  void CreateAutoupdateTask(const base::FilePath& folder);
  // Deletes the product's stale tasks and "Autoupdate " + `name_suffix`,
  // then empties the suffix.
  static void RemoveAutoupdateTask(std::string* name_suffix);

 private:
  static void DecreaseAutoupdateErrorCount(const base::FilePath& path);
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_BACKEND_STEPS_AUTOUPDATE_TASK_H_
