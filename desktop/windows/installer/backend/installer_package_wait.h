#ifndef DESKTOP_WINDOWS_INSTALLER_BACKEND_INSTALLER_PACKAGE_WAIT_H_
#define DESKTOP_WINDOWS_INSTALLER_BACKEND_INSTALLER_PACKAGE_WAIT_H_

#include "base/files/file_path.h"
#include "base/win/object_watcher.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/backend/installer_part.h"

namespace installer {

class ProtectedPackage;

// The `Installer`'s wait for the package that the front end is still
// fetching, and the hand-over to the package's own installer once it is
// ready. The package-ready event reaches the `Installer`'s
// `OnObjectSignaled`, which also watches the installation-interrupted event
// and hands over from there.
class InstallerPackageWait : public InstallerPart {
 public:
  explicit InstallerPackageWait(Installer* installer);
  // Stops the watch before the event's handle closes.
  ~InstallerPackageWait();

  // `after_elevation`: an elevated installer did the work, so the package's
  // installer only runs this user's tasks.
  void WaitForPackage(bool after_elevation);
  void HandOverToPackageInstaller();
  void StopWatching();

 private:
  // Whether the package's installer must not come from the front end's
  // copy in the user's temporary folder: this process installs for every
  // user or runs elevated, and takes nothing from a folder the user writes.
  bool NeedsProtectedPackage() const;
  // Readies the publisher's check on the main thread while it only waits,
  // unless the package is this program's own.
  void ReadyPackageCheck();
  // Unpacks the package itself into `package`; the folder the package's
  // installer runs from, empty when the run failed here.
  base::FilePath UnpackProtected(const base::FilePath& front_end_folder,
                                 ProtectedPackage* package);
  // Whether the package this process unpacked itself, if it did, may go
  // into the folder; false after failing the run with the reason.
  bool AcceptsProtectedPackage(const ProtectedPackage& package);

  base::win::ScopedHandle package_ready_event_;
  base::win::ObjectWatcher package_ready_watcher_;
  bool after_elevation_ = false;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_BACKEND_INSTALLER_PACKAGE_WAIT_H_
