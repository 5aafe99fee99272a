#include "desktop/windows/installer/backend/steps/uninstall_steps.h"

#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "base/command_line.h"
#include "base/files/file_enumerator.h"
#include "base/files/file_util.h"
#include "base/files/resolved_entry.h"
#include "base/logging.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/windows/installer/backend/installer.h"
#include "desktop/windows/installer/backend/run_state.h"
#include "desktop/windows/installer/backend/steps/autoupdate_task.h"
#include "desktop/windows/installer/backend/steps/cleanup_batch.h"
#include "desktop/windows/installer/backend/steps/default_browser_reset.h"
#include "desktop/windows/installer/backend/steps/private_folder_owners.h"
#include "desktop/windows/installer/backend/steps/product_shortcuts.h"
#include "desktop/windows/installer/backend/steps/remover_copy.h"
#include "desktop/windows/installer/backend/steps/temporary_leftovers.h"
#include "desktop/windows/installer/install_log/install_log.h"
#include "desktop/windows/installer/ipc/installer_observer.h"
#include "desktop/windows/installer/paths/inside_folder_check.h"
#include "desktop/windows/installer/paths/local_path.h"
#include "desktop/windows/installer/product/branding.h"
#include "desktop/windows/installer/backend/steps/component_installer_start.h"
#include "desktop/windows/installer/product/installer_string_ids.h"
#include "desktop/windows/installer/product/package_file_names.h"
#include "desktop/windows/installer/product_environment/folder_product_environment.h"
#include "desktop/windows/installer/settings/settings.h"
#include "desktop/windows/installer/settings/settings_switches.h"
#include "desktop/windows/installer/settings/status.h"
#include "desktop/windows/installer/system/utils.h"
#include "desktop/windows/installer/transactions/delete_file_operation.h"
#include "desktop/windows/installer/transactions/file_errors.h"

namespace installer {

namespace {

bool StartRemoverCopy(const base::FilePath& batch_file,
                      const std::vector<uint32_t>& process_ids,
                      bool all_users) {
  return RemoverCopy::Start(batch_file.DirName(),
                            GetPrivateFolderOwners(all_users), process_ids);
}

UninstallSteps::BatchStarter g_batch_starter = &StartRemoverCopy;

uint32_t GetInitialProcessId() {
  uint32_t id = 0;
  const std::string value =
      GetProcessCommandLine().GetSwitchValueASCII(switches::kInitialPid);
  return base::WideStringToUint(base::Utf8ToWide(value), &id) ? id : 0;
}

// A profile folder that a recursive delete may take: a full path, not a
// drive's root nor a folder just below it, with no ".." on the way.
bool IsDeletableProfileFolder(const base::FilePath& path) {
  std::vector<std::wstring> components;
  path.GetComponents(&components);
  return path.IsAbsolute() && !path.ReferencesParent() &&
         components.size() >= 4;
}

}  // namespace

UninstallSteps::UninstallSteps(Installer* installer)
    : InstallerPart(installer) {}

bool UninstallSteps::DeleteProductExecutable(const base::FilePath& folder) {
  const std::string executable = GetProductExecutableName();
  InsideFolderCheck inside_folder(folder);
  const base::FilePath path = inside_folder.ResolveToDelete(
      folder.Append(status()->install_log.subfolder).AppendASCII(executable));
  // The log names no version folder inside the installation folder: no
  // executable of this installation can be running from there.
  if (path.empty())
    return true;
  if (run_.transaction.ExecuteOperation(
          MakeDeleteFileOperation(path, true, true, inside_folder.folder())))
    return true;
  const uint32_t error = run_.transaction.last_error();
  if (IsFileInUseError(error)) {
    LOG(ERROR) << FailWithCause(
        kStringExecutableInUse, std::wstring(),
        "Can't uninstall when " + executable + " is in use", error);
  } else {
    // Nothing runs from the folder: it cannot be changed (a read-only
    // volume, a folder the user may not write), and the user is told which.
    LOG(ERROR) << FailWithCause(
        kStringUninstallFolder, folder.value(),
        "Can't uninstall: " + path.AsUTF8() + " cannot be removed", error);
  }
  return false;
}

void UninstallSteps::StepRemoveShortcuts() {
  LOG(INFO) << "Removing shortctus.";
  const Status* current = status();
  if (!current->pinned_shortcut_paths.empty()) {
    LOG(INFO) << "Unpinning shortcuts";
    product_shortcuts().UnpinShortcuts(current->pinned_shortcut_paths);
  }
  struct Shortcut {
    bool exists;
    const std::wstring& path;
    const char* message;
  } const shortcuts[] = {
      {current->desktop_shortcut_exists, current->install_log.desktop_shortcut,
       "Removing desktop shortcut."},
      {current->start_menu_shortcut_exists,
       current->install_log.start_menu_shortcut,
       "Removing start menu shortcut."},
      {current->quick_launch_shortcut_exists,
       current->install_log.quick_launch_shortcut,
       "Removing quick launch shortcut."},
      {current->temporary_shortcut_folder_exists,
       current->temporary_shortcut_folder.value(),
       "Removing temporary shortcut folder."},
  };
  for (const Shortcut& shortcut : shortcuts) {
    if (!shortcut.exists || shortcut.path.empty())
      continue;
    LOG(INFO) << shortcut.message;
    // A shortcut that stays does not stop the uninstallation.
    std::ignore = run_.transaction.ExecuteOperation(
        MakeDeleteFileOperation(base::FilePath(shortcut.path), false, false));
  }
  ScheduleNextStep();
}

void UninstallSteps::StepFinalizeUninstallation() {
  LOG(INFO) << "Finalizing the uninstallation";
  const base::FilePath folder = status()->install_folder;
  if (!run_.transaction.ExecuteOperation(
          MakeDeleteFileOperation(folder.Append(kInstallLogName), false, true,
                                  ResolveFinalLocalPath(folder)))) {
    LOG(ERROR) << Fail(kStringUninstallerError, std::wstring(),
                       "Failed to remove installation status file");
    return;
  }
  default_browser_reset().ResetDefaultBrowserAndShowSurvey(folder);
  ScheduleNextStep();
}

void UninstallSteps::StepUninstallComponents() {
  const char* copy_only = run_.settings->GetFlag(COPY_ONLY) ? "1" : "0";
  const char* all_users = run_.settings->GetFlag(ALL_USERS_FLAG) ? "1" : "0";
  for (const auto& [name, folder] : status()->install_log.components) {
    base::CommandLine command_line(
        GetComponentInstallerPath(base::FilePath(folder), name));
    command_line.AppendSwitch("uninstall");
    command_line.AppendSwitchASCII("copyonly", copy_only);
    command_line.AppendSwitchASCII("allusers", all_users);
    if (!StartComponentInstaller(command_line))
      LOG(ERROR) << "Failed to start the uninstaller of " << name;
  }
  ScheduleNextStep();
}

void UninstallSteps::StepCleanUpAfterUninstallation() {
  LOG(INFO) << "Cleaning up files after uninstallation";
  const Status* current = status();
  const base::FilePath folder = current->install_folder;
  if (!run_.settings->GetFlag(COPY_ONLY)) {
    VLOG(1) << "Removing scheduled task";
    std::string name_suffix = current->install_log.app_id;
    AutoupdateTask::RemoveAutoupdateTask(&name_suffix);
  }

  CleanupBatch batch(folder);
  for (const base::FilePath& path : run_.old_files_for_batch)
    batch.AddPath(path, true);
  DeleteInstalledFiles(*current, &batch);
  DeleteLeftovers(*current);

  // What follows deletes for good and can no longer fail: it is the run's
  // commit, so a test's fault at the end of this step comes before it.
  if (FailAtInjectedFault())
    return;
  WriteAndStartCleanupBatch(&batch, folder);
  if (run_.settings->GetFlag(DELETE_PROFILE))
    DeleteUserProfile(folder);

  for (InstallerObserver& observer : run_.observers)
    observer.OnStep();
  Succeeded();
}

void UninstallSteps::DeleteInstalledFiles(const Status& current,
                                          CleanupBatch* batch) {
  const base::FilePath& folder = current.install_folder;
  InsideFolderCheck inside_folder(folder);
  const base::FilePath version_folder =
      folder.Append(current.install_log.subfolder);
  for (const std::wstring& file : current.install_log.files) {
    std::optional<base::ResolvedEntry> judged =
        inside_folder.JudgeToDelete(version_folder.Append(file));
    if (!judged)
      continue;
    const base::FilePath path = judged->path();
    if (!run_.transaction.ExecuteOperation(
            MakeDeleteFileOperation(std::move(*judged), true, true,
                                    inside_folder.folder()))) {
      batch->AddPath(path, true);
    }
  }
  for (const wchar_t* name : {kLauncherName, kPrefDefaultOverridesName,
                              kInstallerPrefsName, kServerTrackingDataName}) {
    const base::FilePath path = folder.Append(name);
    if (!base::PathExists(path))
      continue;
    if (!run_.transaction.ExecuteOperation(
            MakeDeleteFileOperation(path, true, true,
                                    inside_folder.folder()))) {
      batch->AddPath(path, false);
    }
  }
}

void UninstallSteps::DeleteLeftovers(const Status& current) {
  const base::FilePath& folder = current.install_folder;
  InsideFolderCheck inside_folder(folder);
  // The previous executable and the old root files are leftovers: one that
  // stays does not stop the uninstallation.
  if (!IsWhiteLabeled()) {
    const base::FilePath old_executable =
        folder.AppendASCII(GetProductExecutableName())
            .InsertBeforeExtensionASCII(".old");
    if (base::PathExists(old_executable)) {
      std::ignore = run_.transaction.ExecuteOperation(
          MakeDeleteFileOperation(old_executable, true, true,
                                  inside_folder.folder()));
    }
  }
  for (const std::wstring& name : current.install_log.root_files) {
    std::optional<base::ResolvedEntry> judged =
        inside_folder.JudgeToDelete(folder.Append(name));
    if (judged) {
      std::ignore = run_.transaction.ExecuteOperation(MakeDeleteFileOperation(
          std::move(*judged), true, true, inside_folder.folder()));
    }
  }
  DeleteTemporaryLeftovers(current, &inside_folder);
}

void UninstallSteps::DeleteTemporaryLeftovers(
    const Status& current,
    InsideFolderCheck* inside_folder) {
  std::vector<std::wstring> root_names = {
      kLauncherName, kPrefDefaultOverridesName, kInstallerPrefsName,
      kServerTrackingDataName, kInstallLogName};
  root_names.insert(root_names.end(), current.install_log.root_files.begin(),
                    current.install_log.root_files.end());
  // Listed whole first: each deletion sets its file aside under a new name.
  std::vector<base::FilePath> leftovers;
  base::FileEnumerator listing(current.install_folder, false,
                               base::FileEnumerator::kFiles, L"*");
  for (base::FilePath path = listing.Next(); !path.empty();
       path = listing.Next()) {
    if (TemporaryLeftovers::IsLeftover(path.BaseName().value(), root_names))
      leftovers.push_back(path);
  }
  for (const base::FilePath& path : leftovers) {
    std::optional<base::ResolvedEntry> judged =
        inside_folder->JudgeToDelete(path);
    // No run made a link or folder under such a name: it stays, and so
    // does what it leads to.
    if (!judged || judged->kind() != base::ResolvedEntry::Kind::kPlain ||
        judged->is_directory()) {
      continue;
    }
    LOG(INFO) << "Removing what a run left: " << path.AsUTF8();
    std::ignore = run_.transaction.ExecuteOperation(MakeDeleteFileOperation(
        std::move(*judged), false, true, inside_folder->folder()));
  }
}

void UninstallSteps::WriteAndStartCleanupBatch(CleanupBatch* batch,
                                               const base::FilePath& folder) {
  // With an elevated permission process, that process hands the record to
  // its own copy once this one is gone: the copy must not wait for that
  // process's copy in turn.
  const bool run_by_permission_process = run_.permission_undo_event.IsValid();
  std::vector<uint32_t> process_ids = {::GetCurrentProcessId(),
                                       GetInitialProcessId()};
  if (!run_by_permission_process)
    process_ids.push_back(run_.second_process_id);
  for (uint32_t id : process_ids)
    batch->AddProcess(id);
  // The installation folder may be the user's to write even when this
  // process is elevated (the permission role's grant).
  const base::FilePath batch_file = folder.Append(kUninstallBatchName);
  if (!batch->Write(batch_file))
    return;
  if (run_by_permission_process)
    return;
  LOG(INFO) << "Starting the installer's copy that removes the leftovers.";
  if (!g_batch_starter(batch_file, process_ids,
                       run_.settings->GetFlag(ALL_USERS_FLAG)))
    LOG(ERROR) << "The leftovers stay in " << folder.AsUTF8();
}

// static
UninstallSteps::BatchStarter UninstallSteps::SetBatchStarterForTesting(
    BatchStarter starter) {
  return std::exchange(g_batch_starter, starter ? starter : &StartRemoverCopy);
}

void UninstallSteps::DeleteUserProfile(const base::FilePath& folder) {
  FolderProductEnvironment environment(folder, status()->install_log);
  base::FilePath profile;
  if (!environment.GetUserDataDirForStream(&profile))
    return;
  if (!IsDeletableProfileFolder(profile)) {
    LOG(ERROR) << "Refused to delete the profile folder " << profile.AsUTF8();
    return;
  }
  LOG(INFO) << "Deleting user profile.";
  base::DeletePath(profile, true);
  base::FilePath local;
  environment.RebasePath(profile, &local);
  // A rebase that failed can give back anything, down to an empty path,
  // which would be the current folder.
  if (local == profile || local.BaseName() != profile.BaseName() ||
      !IsDeletableProfileFolder(local)) {
    LOG(ERROR) << "Refused to delete the local profile folder "
               << local.AsUTF8();
    return;
  }
  base::DeletePath(local, true);
}

}  // namespace installer
