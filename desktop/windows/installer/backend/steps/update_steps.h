#ifndef DESKTOP_WINDOWS_INSTALLER_BACKEND_STEPS_UPDATE_STEPS_H_
#define DESKTOP_WINDOWS_INSTALLER_BACKEND_STEPS_UPDATE_STEPS_H_

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "desktop/windows/installer/backend/installer_part.h"
#include "desktop/windows/installer/backend/steps/product_shortcuts.h"

namespace installer {

struct RegistryKeyRecord;

// The steps that clear what a previous installation of the folder left:
// the files of older installations, the old root files, the registry
// entries of its install log, and its install log itself, kept aside; and
// the update of its shortcuts. An uninstallation runs the file removal and
// the registry clean-up too.
class UpdateSteps : public InstallerPart {
 public:
  explicit UpdateSteps(Installer* installer);

  // `during_update`: files still in use fail an update; an uninstallation
  // leaves them to its clean-up batch file.
  void StepRemovePreviousFiles(bool during_update);
  void StepRemoveOldRootFiles();
  void StepCleanUpRegistry();
  void StepPreserveInstallerStatus();
  void StepUpdateShortcuts();

  // The vendor's key, once a successful uninstallation has left it without
  // values or subkeys; other products of the vendor may still keep theirs
  // there.
  void DeleteEmptyCompanyKey(HKEY root);

  // The stream of the former browser generation's product type.
  static std::wstring GetOldProductStreamName(int32_t product_type);

 private:
  // One of the three shortcuts an update carries over from the previous
  // installation.
  struct ShortcutUpdate {
    const char* label;
    int32_t flag;
    bool existed;
    bool recreate;
    const std::wstring& old_path;
    int folder_key;
    std::wstring* new_path;
  };

  void RemoveOldInstallation(const base::FilePath& status_file,
                             bool during_update);
  void CleanUpRegistryRecord(HKEY root, const RegistryKeyRecord& record);
  void DeleteUninstallEntryOfFolder(HKEY root, const std::wstring& key_path);
  std::wstring ExpandProductPlaceholders(const std::wstring& text) const;
  void UpdateShortcut(
      const ShortcutUpdate& shortcut,
      bool rename,
      base::FilePath* created,
      std::vector<ProductShortcuts::ShortcutDestination>* destinations);
  // Unpins the previous installation's pins as the flags ask; true when the
  // master shortcut is to be pinned anew.
  bool UpdatePinnedShortcuts(bool rename);
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_BACKEND_STEPS_UPDATE_STEPS_H_
