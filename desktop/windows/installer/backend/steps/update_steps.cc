#include "desktop/windows/installer/backend/steps/update_steps.h"

#include <array>
#include <atomic>
#include <cwctype>
#include <iterator>
#include <optional>
#include <string>
#include <tuple>
#include <utility>

#include "base/files/empty_folder_removal.h"
#include "base/files/file_enumerator.h"
#include "base/files/file_util.h"
#include "base/files/resolved_entry.h"
#include "base/logging.h"
#include "base/path_service.h"
#include "base/strings/utf_string_conversions.h"
#include "base/time/time.h"
#include "base/win/registry.h"
#include "desktop/windows/installer/backend/run_state.h"
#include "desktop/windows/installer/backend/steps/firewall_rule.h"
#include "desktop/windows/installer/backend/steps/product_shortcuts.h"
#include "desktop/windows/installer/backend/steps/registry_cleanup_key.h"
#include "desktop/windows/installer/install_log/install_log.h"
#include "desktop/windows/installer/install_log/install_log_reader.h"
#include "desktop/windows/installer/paths/inside_folder_check.h"
#include "desktop/windows/installer/product/installer_names.h"
#include "desktop/windows/installer/product/package_file_names.h"
#include "desktop/windows/installer/settings/settings.h"
#include "desktop/windows/installer/settings/status.h"
#include "desktop/windows/installer/system/utils.h"
#include "desktop/windows/installer/transactions/change_reg_value_operation.h"
#include "desktop/windows/installer/transactions/create_folder_operation.h"
#include "desktop/windows/installer/transactions/delete_file_operation.h"
#include "desktop/windows/installer/transactions/delete_reg_key_operation.h"
#include "desktop/windows/installer/transactions/held_folder_tree.h"
#include "desktop/windows/installer/transactions/move_file_operation.h"
#include "desktop/windows/installer/transactions/transaction.h"

namespace installer {

namespace {

constexpr wchar_t kOldStatusPattern[] = L"*.xml.*";
constexpr wchar_t kInstallLocation[] = L"InstallLocation";

// A name for the kept log that no earlier one has: two updates within one
// second would otherwise both take the same name, and the second move would
// fail and lose the log. The indexes stop where the folder's length limit
// stops counting them: empty then, and the log is not kept.
base::FilePath MakeOldStatusPath(const base::FilePath& old_status_folder) {
  const std::wstring base = std::wstring(kInstallLogName) + L"." +
                            std::to_wstring(base::Time::Now().ToTimeT());
  base::FilePath path = old_status_folder.Append(base);
  for (int index = 1; base::PathExists(path); ++index) {
    if (index == kOldStatusNameAttempts)
      return base::FilePath();
    path = old_status_folder.Append(base + L"_" + std::to_wstring(index));
  }
  return path;
}

// The previous installation's shortcut paths without their extension.
std::vector<std::wstring> OldShortcutStems(const Status& status) {
  std::vector<std::wstring> stems;
  for (const std::wstring* path : {&status.install_log.desktop_shortcut,
                                   &status.install_log.start_menu_shortcut,
                                   &status.install_log.quick_launch_shortcut}) {
    if (!path->empty())
      stems.push_back(base::FilePath(*path).RemoveExtension().value());
  }
  return stems;
}

bool AnyEndsInDigit(const std::vector<std::wstring>& stems) {
  for (const std::wstring& stem : stems) {
    if (iswdigit(stem.back()))
      return true;
  }
  return false;
}

bool AnyNamedOtherThan(const std::vector<std::wstring>& stems,
                       const std::wstring& standard_name) {
  const std::wstring standard_stem =
      base::FilePath(standard_name).RemoveExtension().value();
  for (const std::wstring& stem : stems) {
    if (base::FilePath(stem).BaseName().value() != standard_stem)
      return true;
  }
  return false;
}

// The folder of kept logs once the old installations' logs are gone: only
// when it is still a plain folder of the installation, and through the
// handle that judged it, never through a link put in its place.
void RemoveEmptiedOldStatusFolder(const base::FilePath& install_folder,
                                  const base::FilePath& old_status) {
  const InsideFolderCheck::Entry entry =
      InsideFolderCheck(install_folder).Judge(old_status);
  if (entry.kind != InsideFolderCheck::Kind::kPlain)
    return;
  if (base::RemoveEmptyFolderAt(entry.path) ==
      base::EmptyFolderRemoval::kRefused) {
    LOG(WARNING) << "Left " << old_status.AsUTF8()
                 << ": not the installation's own folder";
  }
}

}  // namespace

UpdateSteps::UpdateSteps(Installer* installer) : InstallerPart(installer) {}

void UpdateSteps::StepRemovePreviousFiles(bool during_update) {
  LOG(INFO) << "Removing installed files.";
  const base::FilePath folder = status()->install_folder;
  const base::FilePath old_status = folder.Append(kOldStatusFolder);
  if (!base::DirectoryExists(old_status)) {
    VLOG(1) << "No old status files found.";
    ScheduleNextStep();
    return;
  }
  base::FileEnumerator enumerator(
      old_status, false, base::FileEnumerator::kFiles, kOldStatusPattern);
  for (base::FilePath path = enumerator.Next(); !path.empty();
       path = enumerator.Next()) {
    RemoveOldInstallation(path, during_update);
  }
  RemoveEmptiedOldStatusFolder(folder, old_status);
  ProductShortcuts::RemoveMessageCenterShortcuts();
  ScheduleNextStep();
}

void UpdateSteps::RemoveOldInstallation(const base::FilePath& status_file,
                                        bool during_update) {
  InstallLog log;
  if (!InstallLogReader().Read(&log, status_file)) {
    LOG(WARNING) << "Found invalid old status file: " << status_file.AsUTF8();
    return;
  }
  LOG(INFO) << "Found old status file: " << status_file.AsUTF8();
  const base::FilePath folder = status()->install_folder;
  const base::FilePath version_folder = folder.Append(log.subfolder);
  // Its own transaction: once done, a rollback of this installation must not
  // bring the old files back.
  Transaction transaction;
  InsideFolderCheck inside_folder(folder);
  bool all_deleted = true;
  for (const std::wstring& file : log.files) {
    // A name the log should not hold was never the installation's to
    // delete: it holds back neither the other files nor the log's removal.
    std::optional<base::ResolvedEntry> judged =
        inside_folder.JudgeToDelete(version_folder.Append(file));
    if (!judged)
      continue;
    const base::FilePath path = judged->path();
    if (transaction.ExecuteOperation(
            MakeDeleteFileOperation(std::move(*judged), true, true,
                                    inside_folder.folder()))) {
      continue;
    }
    // An uninstallation leaves it to its batch file, as it does with the
    // current installation's files; the log is then no longer needed.
    if (!during_update) {
      LOG(INFO) << "Deleting later: " << path.AsUTF8();
      run_.old_files_for_batch.push_back(path);
      continue;
    }
    LOG(WARNING) << "Failed to delete " << path.AsUTF8();
    all_deleted = false;
    if (during_update) {
      transaction.RollbackOperations();
      break;
    }
  }
  if (IsUserAdmin(false))
    AddFirewallRule(version_folder.AppendASCII(GetProductExecutableName()),
                    true);
  if (all_deleted) {
    LOG(INFO) << "Deleting " << status_file.AsUTF8();
    base::DeletePath(status_file, false);
  }
}

void UpdateSteps::StepRemoveOldRootFiles() {
  LOG(INFO) << "Removing old files from installation root";
  const base::FilePath folder = status()->install_folder;
  InsideFolderCheck inside_folder(folder);
  for (const std::wstring& name : status()->install_log.root_files) {
    const base::FilePath path =
        inside_folder.ResolveToDelete(folder.Append(name));
    // A root file of the old version that stays is unused by the new one:
    // the update goes on.
    if (!path.empty()) {
      std::ignore = run_.transaction.ExecuteOperation(
          MakeDeleteFileOperation(path, false, true, inside_folder.folder()));
    }
  }
  ScheduleNextStep();
}

void UpdateSteps::StepCleanUpRegistry() {
  LOG(INFO) << "Cleaning up registry";
  const InstallLog& log = status()->install_log;
  for (const RegistryKeyRecord& record : log.hkcu_registry)
    CleanUpRegistryRecord(HKEY_CURRENT_USER, record);
  for (const RegistryKeyRecord& record : log.hklm_registry)
    CleanUpRegistryRecord(HKEY_LOCAL_MACHINE, record);
  // An update writes its values back at once: only an uninstallation can
  // leave the key empty for good. It goes once the uninstallation has
  // succeeded: deleted inside the transaction, a rollback would recreate it
  // after the values' own undo, whose handles then point at the deleted key.
  run_.delete_empty_company_key =
      run_.settings->operation() == Settings::kUninstalling;
  ScheduleNextStep();
}

void UpdateSteps::DeleteEmptyCompanyKey(HKEY root) {
  const std::wstring key_path = GetCompanyRegistryPath();
  base::win::RegistryKey key;
  if (key.Open(root, key_path.c_str(), KEY_QUERY_VALUE) != ERROR_SUCCESS)
    return;
  DWORD subkeys = 0;
  DWORD values = 0;
  const LONG result = RegQueryInfoKeyW(key.Handle(), nullptr, nullptr, nullptr,
                                       &subkeys, nullptr, nullptr, &values,
                                       nullptr, nullptr, nullptr, nullptr);
  if (result != ERROR_SUCCESS) {
    LOG(WARNING) << "RegQueryInfoKeyW failed: " << result;
    return;
  }
  if (subkeys != 0 || values != 0)
    return;
  key.Close();
  VLOG(1) << "Removing the emptied company key";
  const LONG deleted = RegDeleteKeyW(root, key_path.c_str());
  if (deleted != ERROR_SUCCESS)
    LOG(WARNING) << "RegDeleteKeyW failed: " << deleted;
}

void UpdateSteps::CleanUpRegistryRecord(HKEY root,
                                        const RegistryKeyRecord& record) {
  VLOG(1) << "Cleanup for key " << record.key_path << " with depth "
          << record.clean_depth;
  const std::wstring key_path =
      ExpandProductPlaceholders(base::Utf8ToWide(record.key_path));
  const bool uninstall_entry = IsUninstallEntryKey(key_path);
  if (uninstall_entry && run_.launcher_is_64_bit)
    DeleteUninstallEntryOfFolder(root, key_path);
  const REGSAM view = uninstall_entry ? KEY_WOW64_32KEY : record.view;
  if (record.clean_depth > 0) {
    std::wstring key;
    if (!GetRegistryCleanupKey(key_path, record.clean_depth, &key)) {
      LOG(ERROR) << "Refused registry cleanup of " << record.key_path
                 << " with depth " << record.clean_depth;
      return;
    }
    // The old version's rows go as far as they can: one that stays names
    // nothing the new version reads, and the update goes on.
    std::ignore = run_.transaction.ExecuteOperation(
        std::make_unique<DeleteRegKeyOperation>(root, key, view));
    return;
  }
  for (const RegistryValueRecord& value : record.values) {
    std::ignore = run_.transaction.ExecuteOperation(MakeChangeRegValueOperation(
        root, key_path, ExpandProductPlaceholders(base::Utf8ToWide(value.name)),
        nullptr, 0, 0, 0, view));
  }
}

void UpdateSteps::DeleteUninstallEntryOfFolder(HKEY root,
                                               const std::wstring& key_path) {
  std::wstring key;
  // The entry itself, never the Uninstall list above it.
  if (!GetRegistryCleanupKey(key_path, 1, &key))
    return;
  base::win::RegistryKey entry;
  std::wstring location;
  if (entry.Open(root, key.c_str(), KEY_READ) != ERROR_SUCCESS ||
      entry.ReadString(kInstallLocation, &location) != ERROR_SUCCESS ||
      base::FilePath(location) != status()->install_folder) {
    return;
  }
  entry.Close();
  // The new entry is written whether or not the old one goes.
  std::ignore = run_.transaction.ExecuteOperation(
      std::make_unique<DeleteRegKeyOperation>(root, key, 0));
}

void UpdateSteps::StepPreserveInstallerStatus() {
  LOG(INFO) << "Preserving previous installer status.";
  const base::FilePath folder = status()->install_folder;
  base::FilePath log = folder.Append(kInstallLogName);
  if (!base::PathExists(log))
    log = folder.Append(kFormerInstallLogName);
  if (!base::PathExists(log)) {
    LOG(WARNING) << "No previous status file found.";
    ScheduleNextStep();
    return;
  }
  const base::FilePath old_status = folder.Append(kOldStatusFolder);
  // A run that may be elevated finds or makes the folder through the
  // folders it holds, a link at its name refused.
  HeldFolderTree* const held_folders = run_.held_folders.get();
  if (held_folders ? !held_folders->Folder(old_status, &run_.transaction)
                   : !base::DirectoryExists(old_status) &&
                         !run_.transaction.ExecuteOperation(
                             MakeCreateFolderOperation(old_status))) {
    LOG(WARNING) << "No folder for old status files.";
    ScheduleNextStep();
    return;
  }
  LOG(INFO) << "Moving old status file.";
  // Kept only as history, like the folder above: the update goes on
  // without it.
  const base::FilePath kept = MakeOldStatusPath(old_status);
  if (!kept.empty()) {
    std::ignore = run_.transaction.ExecuteOperation(
        std::make_unique<MoveFileOperation>(
            log, kept, MoveFileOperation::Reach::kAnyVolume,
            MoveFileOperation::Source::kKept, held_folders));
  }
  ScheduleNextStep();
}

void UpdateSteps::StepUpdateShortcuts() {
  if (run_.settings->GetFlag(COPY_ONLY)) {
    ScheduleNextStep();
    return;
  }
  LOG(INFO) << "Updating shortcuts";
  const Status* current = status();
  const std::vector<std::wstring> stems = OldShortcutStems(*current);
  bool use_version = AnyEndsInDigit(stems);
  VLOG(1) << (use_version ? "Using" : "Not using")
          << " shortcut names with version number";
  const bool rename =
      !use_version &&
      AnyNamedOtherThan(stems, ProductShortcuts::GetShortcutFileName(false));
  if (rename)
    LOG(INFO) << "Shortcuts needs to be renamed";

  const bool all_users = run_.settings->GetFlag(ALL_USERS_FLAG);
  const InstallLog& old_log = current->install_log;
  const ShortcutUpdate shortcuts[] = {
      {"Handling desktop shortcut:", DESKTOP_SHORTCUT,
       current->desktop_shortcut_exists, current->recreate_desktop_shortcut,
       old_log.desktop_shortcut,
       all_users ? base::kCommonDesktop : base::kDesktop,
       &run_.install_log.desktop_shortcut},
      {"Handling start menu shortcut:", START_MENU_SHORTCUT,
       current->start_menu_shortcut_exists,
       current->recreate_start_menu_shortcut, old_log.start_menu_shortcut,
       all_users ? base::kCommonStartMenu : base::kStartMenu,
       &run_.install_log.start_menu_shortcut},
      {"Handling quick launch shortcut:", QUICK_LAUNCH_SHORTCUT,
       current->quick_launch_shortcut_exists,
       current->recreate_quick_launch_shortcut, old_log.quick_launch_shortcut,
       base::kQuickLaunch, &run_.install_log.quick_launch_shortcut},
  };
  std::array<base::FilePath, std::size(shortcuts)> created;
  std::vector<ProductShortcuts::ShortcutDestination> destinations;
  for (size_t i = 0; i < std::size(shortcuts); ++i)
    UpdateShortcut(shortcuts[i], rename, &created[i], &destinations);

  const bool pin =
      UpdatePinnedShortcuts(rename) && !run_.settings->GetFlag(AUTOUPDATE);
  product_shortcuts().CreateMasterShortcut(
      &destinations, pin, &use_version,
      current->install_folder.Append(kLauncherName));
  for (size_t i = 0; i < std::size(shortcuts); ++i) {
    if (!created[i].empty())
      *shortcuts[i].new_path = created[i].value();
  }
  ScheduleNextStep();
}

void UpdateSteps::UpdateShortcut(
    const ShortcutUpdate& shortcut,
    bool rename,
    base::FilePath* created,
    std::vector<ProductShortcuts::ShortcutDestination>* destinations) {
  LOG(INFO) << shortcut.label;
  const bool wanted = run_.settings->GetFlag(shortcut.flag);
  const base::FilePath old_path(shortcut.old_path);
  base::FilePath folder;
  if ((!shortcut.existed || shortcut.recreate || rename) && wanted &&
      !base::GetPathForKey(shortcut.folder_key, &folder)) {
    LOG(ERROR) << "No folder for shortcut key " << shortcut.folder_key;
    return;
  }
  if (!shortcut.existed) {
    if (wanted) {
      LOG(INFO) << "Preparing to add shortcut";
      destinations->push_back({folder, created});
    }
    return;
  }
  if (!wanted || shortcut.recreate) {
    LOG(INFO) << (wanted ? "Recreating shortcut" : "Removing shortcut");
    // A shortcut that stays still starts the launcher: the update goes on.
    std::ignore = run_.transaction.ExecuteOperation(
        MakeDeleteFileOperation(old_path, false, false));
    if (wanted)
      destinations->push_back({folder, created});
    return;
  }
  *shortcut.new_path = old_path.value();
  if (!rename)
    return;
  LOG(INFO) << "Moving shortcut";
  HeldFolderTree* held = nullptr;
  const base::FilePath new_path =
      product_shortcuts()
          .HoldShortcutFolder(folder, &held)
          .Append(ProductShortcuts::GetShortcutFileName(false));
  if (run_.transaction.ExecuteOperation(std::make_unique<MoveFileOperation>(
          old_path, new_path, MoveFileOperation::Reach::kAnyVolume,
          MoveFileOperation::Source::kKept, held))) {
    *shortcut.new_path = new_path.value();
  }
}

bool UpdateSteps::UpdatePinnedShortcuts(bool rename) {
  LOG(INFO) << "Handling pinned shortcut:";
  const std::vector<base::FilePath>& pins = status()->pinned_shortcut_paths;
  if (pins.empty())
    return false;
  if (!run_.settings->GetFlag(PINNED_SHORTCUT)) {
    LOG(INFO) << "Unpinning existing shortcuts";
    product_shortcuts().UnpinShortcuts(pins);
    return false;
  }
  if (status()->recreate_pinned_shortcut) {
    LOG(INFO) << "Unpinning existing shortcuts (with repin)";
    product_shortcuts().UnpinShortcuts(pins);
    return true;
  }
  // Renamed shortcuts leave the pin pointing at the old name: pin anew.
  return rename;
}

std::wstring UpdateSteps::ExpandProductPlaceholders(
    const std::wstring& text) const {
  if (!status()->kilnor_installation)
    return text;
  const std::wstring stream =
      GetOldProductStreamName(status()->old_product_type);
  std::wstring expanded = text;
  for (const auto& [placeholder, value] :
       {std::pair<std::wstring, std::wstring>{L"{Product}", stream},
        std::pair<std::wstring, std::wstring>{L"{SPProduct}", L" " + stream}}) {
    const size_t found = expanded.find(placeholder);
    if (found != std::wstring::npos)
      expanded.replace(found, placeholder.size(), value);
  }
  return expanded;
}

}  // namespace installer
