#ifndef DESKTOP_WINDOWS_INSTALLER_PRODUCT_INSTALLER_OBJECT_NAMES_H_
#define DESKTOP_WINDOWS_INSTALLER_PRODUCT_INSTALLER_OBJECT_NAMES_H_

#include <string>

#include "base/files/file_path.h"

namespace installer {

// The names of the kernel objects through which the installer processes of
// one installation folder find each other: the front end's mutex, the
// mailslot channel, the package-ready and installation-interrupted events,
// and the two events of the elevated folder-permission exchange. Every
// process must take its names from here.
//
// Kernel-object names are case-sensitive, while the folder is not: two
// spellings of one folder ("c:/program files/x/", "C:\Program Files\X")
// would otherwise get two mutexes and let two installers work on one
// folder. So the names are built from the folder made full (relative parts
// resolved, separators normalised, no trailing separator) and upper-cased
// the way the file system compares names.
// The mailslot channel of an installation: "tarvo_installer\" followed by
// the folder exactly as it stands (backslashes, drive colon and spaces
// kept), so that the front end and the backend meet on it.
inline constexpr wchar_t kInstallerChannelPrefix[] = L"tarvo_installer\\";
std::wstring MakeInstallerChannelName(const base::FilePath& install_folder);

// `prefix` + "/" + `name`, backslashes turned into slashes, in the global or
// local namespace. Processes that know the same folder get the same name.
std::wstring MakeKernelObjectName(const std::wstring& name,
                                  const std::wstring& prefix,
                                  bool global);

class InstallerObjectNames {
 public:
  explicit InstallerObjectNames(const base::FilePath& install_folder);
  InstallerObjectNames(const InstallerObjectNames&) = delete;
  InstallerObjectNames& operator=(const InstallerObjectNames&) = delete;
  ~InstallerObjectNames();

  // The folder as the names spell it, e.g. "C:\PROGRAM FILES\TARVO".
  const base::FilePath& folder() const { return folder_; }

  // "Global\Tarvo/Installer/" + the folder in its long form with slashes
  // (a digest of it when that is too long for a name).
  std::wstring mutex() const;
  // "tarvo_installer\" + the folder (an `IpcReceiver`/`IpcSender` channel).
  std::wstring channel() const;
  // "Global\TarvoInstaller/PackageReady/" + the folder with slashes.
  std::wstring package_ready_event() const;
  // "Global\TarvoInstaller/InstallationInterrupted/" + the folder with
  // slashes.
  std::wstring installation_interrupted_event() const;
  // Signalled by the elevated permission process once the grant is in
  // place: "Local\TarvoInstaller/GiveInstallPermission/" + the folder with
  // slashes.
  std::wstring give_permission_event() const;
  // Signalled by the installer when the grant may go: "Local\TarvoInstaller/
  // GiveInstallPermission/Undo/" + the folder with slashes.
  std::wstring undo_permission_event() const;

 private:
  const base::FilePath full_folder_;
  const base::FilePath folder_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PRODUCT_INSTALLER_OBJECT_NAMES_H_
