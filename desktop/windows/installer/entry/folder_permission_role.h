#ifndef DESKTOP_WINDOWS_INSTALLER_ENTRY_FOLDER_PERMISSION_ROLE_H_
#define DESKTOP_WINDOWS_INSTALLER_ENTRY_FOLDER_PERMISSION_ROLE_H_

namespace base {
class FilePath;
}  // namespace base

namespace installer {

// The elevated side of the folder-permission exchange (switch
// "set-folder-permission"): grants the user of "permissions-for-user" full
// access to the folder and keeps the grant until the process that asked
// for it says so or ends; or, with "wait-for-package", waits for the
// package and runs the package's verified installer in this role. Reports
// nothing; every failure simply ends it.
void SetFolderPermission();

// Hands the uninstallation's record of leftovers ("k.bat") of `folder`,
// when it has one, to a copy of the installer made outside the folder,
// which deletes them once this process and the uninstaller have ended.
void RunUninstallBatch(const base::FilePath& folder);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_ENTRY_FOLDER_PERMISSION_ROLE_H_
