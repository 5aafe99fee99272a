#include "desktop/windows/installer/backend/install_folder_access.h"

#include <windows.h>

#include "base/command_line.h"
#include "base/files/file_util.h"
#include "base/files/held_folder.h"
#include "base/logging.h"
#include "base/path_service.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/backend/installer.h"
#include "desktop/windows/installer/backend/run_state.h"
#include "desktop/windows/installer/backend/steps/install_steps.h"
#include "desktop/windows/installer/paths/local_path.h"
#include "desktop/windows/installer/product/installer_string_ids.h"
#include "desktop/windows/installer/security/access_permissions.h"
#include "desktop/windows/installer/security/administrators_folder.h"
#include "desktop/windows/installer/settings/settings.h"
#include "desktop/windows/installer/settings/settings_switches.h"
#include "desktop/windows/installer/settings/status.h"
#include "desktop/windows/installer/system/process_elevation.h"
#include "desktop/windows/installer/system/utils.h"
#include "desktop/windows/installer/testing/test_hooks.h"
#include "desktop/windows/installer/transactions/create_folder_operation.h"
#include "desktop/windows/installer/transactions/held_folder_tree.h"

namespace installer {

namespace {

// Read, write and execute: what the steps need on the installation folder.
constexpr DWORD kInstallFolderAccess = 0x1201BF;
constexpr int kFileObject = 1;  // SE_FILE_OBJECT

// The folder of this process's program, as the system names it: where the
// user must move the installer from.
std::wstring OwnProgramFolder() {
  base::FilePath program;
  return base::GetWindowsPath(base::kExeFile, &program)
             ? program.DirName().value()
             : std::wstring();
}

}  // namespace

InstallFolderAccess::InstallFolderAccess(Installer* installer)
    : InstallerPart(installer) {}

InstallFolderAccess::~InstallFolderAccess() = default;

bool InstallFolderAccess::Obtain(const base::FilePath& folder) {
  const bool is_elevated_admin = ProcessElevation::ProcessTokenIsElevated();
  VLOG(1) << "is_elevated_admin: " << is_elevated_admin;
  const bool all_users = run_.settings->GetFlag(ALL_USERS_FLAG);
  const bool single_profile = run_.settings->GetFlag(SINGLE_PROFILE);
  const bool installing = run_.settings->operation() == Settings::kInstalling;

  if (all_users && run_.settings->GetFlag(SILENT) && !is_elevated_admin) {
    LOG(ERROR) << Fail(
        kStringInstallerError, std::wstring(),
        "Installation requires elevation, but cannot elevate when silent");
    return false;
  }
  // Elevated processes (the update task, every later installer) run what
  // an all-users installation's folder holds: it must be the
  // administrators' alone before anything goes into it.
  const bool administrators_folder =
      all_users && is_elevated_admin &&
      run_.settings->operation() != Settings::kUninstalling;
  const AllUsersFolderCheck::Verdict folder_verdict =
      administrators_folder ? AllUsersFolderCheck::Judge(folder)
                            : AllUsersFolderCheck::Verdict::kUse;
  if (!AcceptAllUsersFolder(folder, folder_verdict))
    return false;
  if (is_elevated_admin && !all_users && !AcceptOneUsersFolder(folder))
    return false;
  bool has_write = true;
  if (status()->valid_parent_folder != folder &&
      !(all_users && !is_elevated_admin)) {
    VLOG(2) << "Using write permissions from the status";
    has_write = status()->has_write_access;
    if (has_write && !Make(folder))
      return false;
  }
  if (folder_verdict == AllUsersFolderCheck::Verdict::kMakeAdministrators &&
      !MakeAdministratorsFolder(folder)) {
    return false;
  }
  installer_.install_steps().SaveLastInstallPath();
  if (has_write)
    has_write =
        CheckAccessToPath(folder.value(), kFileObject, kInstallFolderAccess);
  if (installing && !has_write && single_profile &&
      status()->single_profile != 1) {
    LOG(ERROR) << Fail(kStringNoPrivileges, std::wstring(),
                       "Single profile installations are only allowed to "
                       "locations where the user has write access");
    return false;
  }
  if (all_users && !is_elevated_admin) {
    VLOG(1) << "All users is set but we have no admin privs -> elevate";
    return HandleRelaunchResult(elevation().RelaunchElevated());
  }
  // Never on the administrators' folder: the user would own what elevated
  // processes run.
  if (installing && is_elevated_admin && single_profile &&
      status()->single_profile != 1 && !administrators_folder) {
    GrantLastingAccess(folder);
  }
  LOG(INFO) << "Write privileges for install folder: " << has_write;
  if (has_write)
    return true;
  // By name, and taking ownership where the list refuses it: only in a
  // process that has no rights beyond the user's own.
  if (is_elevated_admin) {
    LOG(WARNING) << "An elevated run grants nothing by the folder's name";
  } else if (GrantAccessToCurrentUser(folder.value(), kFileObject,
                                      kInstallFolderAccess, true,
                                      &saved_security_)) {
    return true;
  }
  return ObtainElevated(folder, is_elevated_admin, single_profile);
}

bool InstallFolderAccess::Make(const base::FilePath& folder) {
  // One found is left as it is: the run's steps hold it as they need it.
  if (base::DirectoryExists(folder))
    return true;
  TestHooks::OnRolePoint(TestHooks::RolePoint::kInstallFolder);
  bool made = false;
  uint32_t error = 0;
  if (!run_.held_folders) {
    made = run_.transaction.ExecuteOperation(MakeCreateFolderOperation(folder));
    error = run_.transaction.last_error();
  } else {
    made = run_.held_folders->Folder(folder, &run_.transaction) != nullptr;
    error = made ? 0 : ::GetLastError();
  }
  TestHooks::OnRolePoint(TestHooks::RolePoint::kInstallFolder);
  if (made) {
    made_folder_ = true;
    return true;
  }
  LOG(ERROR) << FailWithCause(kStringCreateFolderFailed, folder.value(),
                              "Could not create installation folder", error);
  return false;
}

bool InstallFolderAccess::AcceptOneUsersFolder(const base::FilePath& folder) {
  const base::FilePath resolved = ResolveLocalPath(folder);
  if (!resolved.empty() && !IsReachedThroughLink(resolved))
    return true;
  LOG(ERROR) << Fail(kStringNoPrivileges, folder.value(),
                     "Refusing the installation folder of an elevated run "
                     "for one user: it is no local folder, or it is reached "
                     "through a link");
  return false;
}

void InstallFolderAccess::GrantLastingAccess(const base::FilePath& folder) {
  const base::win::ScopedHandle held =
      OpenFolder(folder, READ_CONTROL | WRITE_DAC);
  if (!held.IsValid() ||
      !GrantAccessToCurrentUserThroughHandle(held.Get(), GENERIC_ALL)) {
    PLOG(WARNING) << "No lasting access granted to "
                  << folder.AsUTF8();
    return;
  }
  LOG(INFO) << "Granted the user lasting access to " << folder.AsUTF8();
}

bool InstallFolderAccess::AcceptAllUsersFolder(
    const base::FilePath& folder,
    AllUsersFolderCheck::Verdict verdict) {
  if (!AllUsersFolderCheck::Refuses(verdict))
    return true;
  LOG(ERROR) << Fail(AllUsersFolderCheck::MessageId(verdict), folder.value(),
                     std::string("Refusing the all-users installation "
                                 "folder: ") +
                         AllUsersFolderCheck::Describe(verdict));
  return false;
}

base::win::ScopedHandle InstallFolderAccess::OpenFolder(
    const base::FilePath& folder,
    DWORD access) {
  if (!run_.held_folders)
    return OpenFolderReachedWithoutLinks(ResolveLocalPath(folder), access);
  const base::HeldFolder::Ref held =
      run_.held_folders->ExistingFolder(folder, &run_.transaction);
  return held ? held->Reopen(access) : base::win::ScopedHandle();
}

bool InstallFolderAccess::MakeAdministratorsFolder(
    const base::FilePath& folder) {
  if (ProtectForAdministrators(folder)) {
    LOG(INFO) << "Made " << folder.AsUTF8() << " the administrators' alone";
    return true;
  }
  // Anything put in it before it was protected was put there by someone
  // else: the folder is not used.
  return AcceptAllUsersFolder(folder,
                              AllUsersFolderCheck::Verdict::kOthersMayChange);
}

bool InstallFolderAccess::ProtectForAdministrators(
    const base::FilePath& folder) {
  // Made anew, or found empty: given its own list, whatever it inherits.
  // Closed before a failure's rollback, which may take the folder away.
  const base::win::ScopedHandle handle = OpenFolder(
      folder, READ_CONTROL | WRITE_DAC | WRITE_OWNER | FILE_READ_ATTRIBUTES);
  if (!handle.IsValid()) {
    PLOG(ERROR) << "Cannot open " << folder.AsUTF8();
    return false;
  }
  return AdministratorsFolder::Protect(handle.Get()) &&
         AllUsersFolderCheck::Judge(folder) ==
             AllUsersFolderCheck::Verdict::kUse &&
         AllUsersFolderCheck::HoldsNothing(folder);
}

bool InstallFolderAccess::ObtainElevated(const base::FilePath& folder,
                                         bool is_elevated_admin,
                                         bool single_profile) {
  if (is_elevated_admin) {
    LOG(ERROR) << Fail(kStringNoPrivileges, std::wstring(),
                       "Could not obtain write permissions to installation "
                       "folder");
    return false;
  }
  if (IsUserAdmin(true)) {
    VLOG(1) << "Running elevated because of folder privileges";
    return HandleRelaunchResult(elevation().RelaunchElevated());
  }
  LOG(INFO) << "Need temporary write permissions from administrative user";
  const bool permanent = single_profile || GetProcessCommandLine().HasSwitch(
                                               switches::kComponents);
  if (!HandleGrantResult(
          elevation().GrantFolderPermissionElevated(folder, permanent))) {
    return false;
  }
  if (!CheckAccessToPath(folder.value(), kFileObject, kInstallFolderAccess)) {
    LOG(ERROR) << Fail(kStringNoPrivileges, std::wstring(),
                       "No write access to installation folder after "
                       "attempting to get it via elevated process");
    return false;
  }
  return true;
}

bool InstallFolderAccess::HandleGrantResult(InstallerElevation::Result result) {
  switch (result) {
    case InstallerElevation::kElevatedDone:
      VLOG(2) << "Temporary write permission obtained";
      return true;
    case InstallerElevation::kElevationImpossible:
      LOG(ERROR) << Fail(kStringNoAdministratorPrivileges, std::wstring(),
                         "Failed to elevate the process to give us write "
                         "permissions to installation folder");
      return false;
    case InstallerElevation::kElevatedProcessFailed:
      LOG(ERROR) << Fail(kStringInstallerError, std::wstring(),
                         "The process for giving us write permission to the "
                         "installer folder didn't complete successfully");
      return false;
    case InstallerElevation::kProgramFolderRefused:
      FailForProgramFolder();
      return false;
    default:
      LOG(ERROR) << Fail(kStringInstallerError, std::wstring(),
                         "Error when setting up the process to give us write "
                         "permissions to installation folder");
      return false;
  }
}

bool InstallFolderAccess::HandleRelaunchResult(
    InstallerElevation::Result result) {
  switch (result) {
    case InstallerElevation::kElevatedDone:
      VLOG(2) << "Succeeded elevated run";
      Succeeded();
      return false;
    case InstallerElevation::kRunContinuesInPackageWait:
      // The elevated installer did the work; the package wait (or the
      // hand-over it already made) reports the run's end.
      VLOG(2) << "Succeeded elevated run, waiting for the package";
      return false;
    case InstallerElevation::kElevationImpossible:
      LOG(ERROR) << Fail(kStringNoAdministratorPrivileges, std::wstring(),
                         "Elevated installation failed.");
      return false;
    case InstallerElevation::kElevatedProcessFailed:
      LOG(ERROR) << Fail(kStringInstallerError, std::wstring(),
                         "Installer process did not complete successfully.");
      return false;
    case InstallerElevation::kElevationSetupError:
      LOG(ERROR) << Fail(kStringInstallerError, std::wstring(),
                         "Error when setting up the installer process");
      return false;
    case InstallerElevation::kProgramFolderRefused:
      FailForProgramFolder();
      return false;
  }
  return true;
}

void InstallFolderAccess::FailForProgramFolder() {
  LOG(ERROR) << Fail(kStringInstallerFolderRefused, OwnProgramFolder(),
                     "The installer was not run elevated from its folder: "
                     "its path does not lead to its file alone");
}

void InstallFolderAccess::Release() {
  if (saved_security_) {
    RestoreSecurityInfo(saved_security_.get());
    saved_security_.reset();
  }
  if (run_.permission_undo_event.IsValid()) {
    if (!SetEvent(run_.permission_undo_event.Get()))
      PLOG(ERROR) << "SetEvent failed";
    // Once is enough: a second release must not give back a later grant.
    run_.permission_undo_event.Close();
  }
}

}  // namespace installer
