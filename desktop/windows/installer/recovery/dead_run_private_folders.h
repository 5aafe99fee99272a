#ifndef DESKTOP_WINDOWS_INSTALLER_RECOVERY_DEAD_RUN_PRIVATE_FOLDERS_H_
#define DESKTOP_WINDOWS_INSTALLER_RECOVERY_DEAD_RUN_PRIVATE_FOLDERS_H_

#include <windows.h>

#include <string>
#include <vector>

#include "base/files/file_path.h"

namespace installer {

// What elevated runs that died left below the system's temporary folder:
// the administrators' private folders (PrivateTempFolder) of a front end's
// downloads, of a backend's unpacked package, of the installer's copy. Only
// the run's own end removes them, and a run killed with its whole process
// tree leaves them for good unless a later elevated run takes them.
class DeadRunPrivateFolders {
 public:
  // Removes, through handles that judged them, the folders of dead runs in
  // the system's temporary folder. A folder is taken only when everything
  // says that this installer made it and its run is gone: a fresh name as
  // the installer makes them, a folder of its own there (no link), the mark
  // inside, the administrators' own owner and list (nobody else could have
  // put anything in it), no link anywhere inside, and no live-run event
  // made by the administrators (no process of the run holds it). Anything
  // else stays untouched. The mark goes last, so that a folder not wholly
  // removed is still known as one the next time.
  static void RemoveFromSystemTemp();

  // Removes, the same way, the folders of the installer's copies that
  // dead runs left in the user's temporary folder (RemoverCopy's, killed
  // before it had its folder removed, or the taskbar pinning helper's): a
  // fresh name as the installer makes them, a folder of its own (no link),
  // the mark inside, nothing in it but a copy's files and the mark, each a
  // file of its own, and no live-run event under its name. The folder is
  // the user's to write, so nothing else there is taken for the
  // installer's. For a run that is not elevated: it is the user's own.
  static void RemoveCopiesFromUserTemp();

  // Whether the names in a folder, beside the mark it must hold, are only
  // those the installer's copies hold.
  static bool AreCopysNames(const std::vector<std::wstring>& names);

  // The list decision: whether a folder with this owner and access list is
  // the administrators' own, as the private folders are made (see
  // AdministratorsFolder::IsAdministrators; `trusted_user` as
  // ReadTrustedUser gives it).
  static bool IsAdministratorsOwn(PSID owner,
                                  const ACL* dacl,
                                  PSID trusted_user);

  // Whether a live-run event with this owner is the run's: one that someone
  // else made under the name once the run had ended says nothing.
  static bool IsRunsOwnEvent(PSID owner, PSID trusted_user);
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_RECOVERY_DEAD_RUN_PRIVATE_FOLDERS_H_
