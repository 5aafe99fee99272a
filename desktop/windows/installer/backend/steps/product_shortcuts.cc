#include "desktop/windows/installer/backend/steps/product_shortcuts.h"

#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "base/files/file_enumerator.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/path_service.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/shortcut.h"
#include "desktop/windows/installer/backend/run_state.h"
#include "desktop/windows/installer/backend/steps/private_folder_owners.h"
#include "desktop/windows/installer/install_log/install_log.h"
#include "desktop/windows/installer/paths/local_path.h"
#include "desktop/windows/installer/product/branding.h"
#include "desktop/windows/installer/product/installer_version.h"
#include "desktop/windows/installer/settings/settings.h"
#include "desktop/windows/installer/shell/taskband_utils.h"
#include "desktop/windows/installer/system/utils.h"
#include "desktop/windows/installer/transactions/copy_file_operation.h"
#include "desktop/windows/installer/transactions/delete_file_operation.h"
#include "desktop/windows/installer/transactions/transaction.h"

namespace installer {

namespace {

constexpr wchar_t kAppUserModelIdPrefix[] = L"TarvoSoftware.TarvoWebBrowser.";

}  // namespace

ProductShortcuts::ProductShortcuts(Installer* installer)
    : InstallerPart(installer) {}

// static
std::wstring ProductShortcuts::GetShortcutFileName(bool with_version) {
  std::string name = GetVisibleProductNameWithStream();
  if (with_version)
    name += " " + std::to_string(GetMajorVersion());
  name += GetShortcutSuffix() + ".lnk";
  return base::Utf8ToWide(name);
}

bool ProductShortcuts::CreateMasterShortcut(
    std::vector<ShortcutDestination>* destinations,
    bool pin,
    bool* use_version,
    const base::FilePath& target) {
  base::win::ShortcutProperties properties;
  properties.set_target(target);
  properties.set_working_directory(target.DirName());
  properties.set_app_id(kAppUserModelIdPrefix +
                        base::Utf8ToWide(run_.install_log.app_id));
  if (!*use_version) {
    const std::wstring plain = GetShortcutFileName(false);
    for (const ShortcutDestination& destination : *destinations) {
      if (base::PathExists(destination.folder.Append(plain))) {
        VLOG(1) << "Using version in shortcut name to avoid collision";
        *use_version = true;
        break;
      }
    }
  }
  const std::wstring name = GetShortcutFileName(*use_version);
  LOG(INFO) << "Using shortcut name " << base::WideToUtf8(name);
  VLOG(1) << "Creating master shortcut";
  const base::FilePath master = run_.package_folder.Append(name);
  VLOG(1) << "Creating master shortcut at " << master.AsUTF8();
  const bool created = base::win::CreateOrUpdateShortcut(
      master, properties, base::win::kShortcutCreateAlways);
  if (!created) {
    LOG(ERROR) << "Failed to create shortcut at " << master.AsUTF8();
  } else {
    if (pin) {
      VLOG(1) << "Pinning master shortcut";
      if (PinToTaskbar(run_.package_folder, master, kPinNow,
                       GetPrivateFolderOwners(
                           run_.settings->GetFlag(ALL_USERS_FLAG))))
        run_.install_log.pinned = true;
      else
        LOG(ERROR) << "Failed pinning " << master.AsUTF8();
    }
    for (const ShortcutDestination& destination : *destinations) {
      HeldFolderTree* held = nullptr;
      const base::FilePath copy =
          HoldShortcutFolder(destination.folder, &held).Append(name);
      if (run_.transaction.ExecuteOperation(
              std::make_unique<CopyFileOperation>(master, copy, held)) &&
          destination.result) {
        *destination.result = copy;
      }
    }
  }
  destinations->clear();
  return created;
}

base::FilePath ProductShortcuts::HoldShortcutFolder(
    const base::FilePath& folder,
    HeldFolderTree** held) {
  *held = nullptr;
  if (!run_.held_folders)
    return folder;
  const base::FilePath resolved = ResolveLocalPath(folder);
  if (resolved.empty()) {
    // No local drive's folder (a share) can be held from its root down.
    LOG(WARNING) << "Writing the shortcut folder " << folder.AsUTF8()
                 << " by its name";
    return folder;
  }
  run_.held_folders->AddRoot(resolved);
  *held = run_.held_folders.get();
  return resolved;
}

// static
void ProductShortcuts::RemoveMessageCenterShortcuts() {
  base::FilePath start_menu;
  if (!base::GetPathForKey(base::kStartMenu, &start_menu))
    return;
  base::FileEnumerator shortcuts(start_menu, false,
                                 base::FileEnumerator::kFiles,
                                 L"Tarvo*Message Center.lnk");
  for (base::FilePath shortcut = shortcuts.Next(); !shortcut.empty();
       shortcut = shortcuts.Next()) {
    base::DeletePath(shortcut, false);
  }
}

void ProductShortcuts::UnpinShortcuts(
    const std::vector<base::FilePath>& shortcuts) {
  for (const base::FilePath& shortcut : shortcuts) {
    LOG(INFO) << "Unpinning shortcut " << shortcut.AsUTF8();
    const bool unpinned = base::win::UnpinShortcutFromTaskbar(shortcut);
    LOG(INFO) << "Unpinning " << (unpinned ? "successful" : "failed");
    // Unpinning is best effort, as its result above says: a pinned shortcut
    // that stays does not stop the run.
    std::ignore = run_.transaction.ExecuteOperation(
        MakeDeleteFileOperation(shortcut, false, false));
  }
}

}  // namespace installer
