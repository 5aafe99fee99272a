#ifndef DESKTOP_WINDOWS_INSTALLER_BACKEND_STEPS_PRIVATE_FOLDER_OWNERS_H_
#define DESKTOP_WINDOWS_INSTALLER_BACKEND_STEPS_PRIVATE_FOLDER_OWNERS_H_

#include "desktop/windows/installer/system/private_temp_folder.h"

namespace installer {

// Who may write the private folder of a program a run starts: the
// administrators when the process may run elevated (every process of an
// all-users run does), as the program runs with its rights and the user's
// unelevated processes share its user; else the user alone.
PrivateTempFolder::Owners GetPrivateFolderOwners(bool all_users);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_BACKEND_STEPS_PRIVATE_FOLDER_OWNERS_H_
