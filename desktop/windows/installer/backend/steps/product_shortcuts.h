#ifndef DESKTOP_WINDOWS_INSTALLER_BACKEND_STEPS_PRODUCT_SHORTCUTS_H_
#define DESKTOP_WINDOWS_INSTALLER_BACKEND_STEPS_PRODUCT_SHORTCUTS_H_

#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "desktop/windows/installer/backend/installer_part.h"

namespace installer {

class HeldFolderTree;

// The product's shortcuts: the master shortcut made in the package folder
// and copied to the chosen folders, its pin on the taskbar, and the removal
// of pins and of old shortcuts.
class ProductShortcuts : public InstallerPart {
 public:
  // A folder the master shortcut is copied to, and where the copy's path is
  // stored when it was made.
  struct ShortcutDestination {
    base::FilePath folder;
    base::FilePath* result = nullptr;
  };

  explicit ProductShortcuts(Installer* installer);

  static std::wstring GetShortcutFileName(bool with_version);
  // Creates the master shortcut to `target` in the package folder, pins it
  // with `pin`, and copies it to every destination (in the transaction);
  // `use_version` (in/out) puts the major version into the name, and is set
  // when a destination already holds the plain name. The destinations are
  // emptied. False when the master shortcut could not be created.
  bool CreateMasterShortcut(std::vector<ShortcutDestination>* destinations,
                            bool pin,
                            bool* use_version,
                            const base::FilePath& target);
  // Where a shortcut goes in `folder` (the user's Desktop, Start menu or
  // Quick Launch, which any process of theirs may change): in a run that may
  // be elevated, `folder` as ResolveLocalPath spells it, added as a root of
  // the run's held folders, which `*held` then names for the copy or move;
  // otherwise `folder` itself, with `*held` null.
  base::FilePath HoldShortcutFolder(const base::FilePath& folder,
                                    HeldFolderTree** held);
  // Unpins each shortcut and deletes it (in the transaction).
  void UnpinShortcuts(const std::vector<base::FilePath>& shortcuts);
  static void RemoveMessageCenterShortcuts();
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_BACKEND_STEPS_PRODUCT_SHORTCUTS_H_
