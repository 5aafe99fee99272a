#ifndef DESKTOP_WINDOWS_INSTALLER_BACKEND_STEPS_POST_INSTALL_TASKS_H_
#define DESKTOP_WINDOWS_INSTALLER_BACKEND_STEPS_POST_INSTALL_TASKS_H_

#include "desktop/windows/installer/backend/installer_part.h"

namespace base {
class FilePath;
}

namespace installer {

// What is done for the user once the files are in place: registering the
// browser for the user an elevated installer worked for, starting the
// components' own installers, bringing the user's profile up to date and
// starting the browser when asked.
class PostInstallTasks : public InstallerPart {
 public:
  explicit PostInstallTasks(Installer* installer);

  // The tasks of this user after an elevated installer did the work.
  void RunPostElevationTasks();
  void FinalizeSuccessfulInstallation();

 private:
  void RegisterForCurrentUser();
  void UpdateUserProfile(const base::FilePath& profile);
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_BACKEND_STEPS_POST_INSTALL_TASKS_H_
