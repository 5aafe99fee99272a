#ifndef DESKTOP_WINDOWS_INSTALLER_BACKEND_INSTALL_FOLDER_ACCESS_H_
#define DESKTOP_WINDOWS_INSTALLER_BACKEND_INSTALL_FOLDER_ACCESS_H_

#include <windows.h>

#include <memory>

#include "base/files/file_path.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/backend/installer_elevation.h"
#include "desktop/windows/installer/backend/installer_part.h"
#include "desktop/windows/installer/settings/all_users_folder_check.h"

namespace installer {

struct SavedSecurityInfo;

// The run's write access to the installation folder: the user's own, a grant
// this process adds to the folder's access list, one an elevated installer
// process gives and holds for the run, or the whole run relaunched elevated.
// What the run was granted is given back at its end.
class InstallFolderAccess : public InstallerPart {
 public:
  explicit InstallFolderAccess(Installer* installer);
  ~InstallFolderAccess();

  // Creates the folder where the status already knows the user may write,
  // then gets write access to it; false when the run ended here (failed,
  // or finished by an elevated relaunch).
  [[nodiscard]] bool Obtain(const base::FilePath& folder);
  // Makes the installation folder where it is missing, with the levels
  // above it, on the run's transaction: where the run may be elevated,
  // through the run's held folders from the nearest folder that exists, so
  // that a link put on the way since the folder was judged is refused.
  // False when the run failed here.
  [[nodiscard]] bool Make(const base::FilePath& folder);
  // Whether this run made the installation folder: made before its journal
  // could lie in it, so that the journal names it once it exists.
  bool made_folder() const { return made_folder_; }
  // Restores the folder's access list and tells the granting process to
  // take its grant back; each grant once.
  void Release();

 private:
  // False, with the run failed and the reason named, when `verdict`
  // refuses the folder.
  [[nodiscard]] bool AcceptAllUsersFolder(const base::FilePath& folder,
                                          AllUsersFolderCheck::Verdict verdict);
  // False, with the run failed and the reason named, when `folder` is no
  // local folder or is reached through a link: an elevated run for one
  // user would write there, and grant there, what the user may not.
  [[nodiscard]] bool AcceptOneUsersFolder(const base::FilePath& folder);
  // An elevated single-profile installation's grant to the user, that
  // later unelevated updates write the folder: through the folder held as
  // judged, never by its name, which the user may point elsewhere
  // meanwhile. Nothing is kept to undo it.
  void GrantLastingAccess(const base::FilePath& folder);
  // The installation folder opened with `access` (its list changed
  // through it): through the run's held folders where it has them, so that
  // the folder changed is the one held, else by its name reached without a
  // link.
  base::win::ScopedHandle OpenFolder(const base::FilePath& folder,
                                     DWORD access);
  // Gives the folder, missing or empty when judged and made since, to the
  // administrators alone; fails the run when it then holds anything or is
  // still not theirs.
  [[nodiscard]] bool MakeAdministratorsFolder(const base::FilePath& folder);
  // Whether the folder is the administrators' alone now and holds nothing.
  bool ProtectForAdministrators(const base::FilePath& folder);
  // Write access that only an administrator's process can give.
  [[nodiscard]] bool ObtainElevated(const base::FilePath& folder,
                                    bool is_elevated_admin,
                                    bool single_profile);
  // Turns an elevated relaunch's result into the run's end; true when the
  // run goes on in this process.
  [[nodiscard]] bool HandleRelaunchResult(InstallerElevation::Result result);
  // Turns an elevated grant of the folder's access into the run's end;
  // true when the grant was made.
  [[nodiscard]] bool HandleGrantResult(InstallerElevation::Result result);
  // Ends the run: this process's program cannot be started elevated from
  // its folder, which the user is told to move it from.
  void FailForProgramFolder();

  // The folder's access list from before this process's own grant.
  std::unique_ptr<SavedSecurityInfo> saved_security_;
  bool made_folder_ = false;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_BACKEND_INSTALL_FOLDER_ACCESS_H_
