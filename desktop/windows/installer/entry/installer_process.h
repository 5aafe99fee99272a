#ifndef DESKTOP_WINDOWS_INSTALLER_ENTRY_INSTALLER_PROCESS_H_
#define DESKTOP_WINDOWS_INSTALLER_ENTRY_INSTALLER_PROCESS_H_

#include <cstdint>
#include <memory>

#include "base/files/file_path.h"

namespace base {
class CommandLine;
class MessageLoop;
}  // namespace base

namespace installer {

class PayloadReader;
class PrivateTempFolder;
class Settings;

// The process of an installer front end or backend: the values of the run
// and the steps from logging to the role's end. Main thread only.
class InstallerProcess {
 public:
  InstallerProcess(const base::CommandLine& command_line,
                   const base::FilePath& environment_install_dir);
  InstallerProcess(const InstallerProcess&) = delete;
  InstallerProcess& operator=(const InstallerProcess&) = delete;
  // Destroys the settings, the payload reader and the message loop, in
  // this order.
  ~InstallerProcess();

  uint8_t Run();

 private:
  uint8_t RunLogged();
  void ReadRoleFlags();
  bool FindOwnPaths();
  bool DecideInsidePackage();
  void ChooseInstallFolder();
  void LogFlags() const;
  void CreateMessageLoop();
  void ApplyExperiments();
  void ApplyExperimentsFromInstallation();
  // False when the payload is corrupted.
  bool ReadPayload();
  void CreateSettings();
  uint8_t RunBackend();
  bool PrepareDownloadFolder();
  bool MakePrivateDownloadFolder();
  // The probed folder in the user's temporary folder (or the next that
  // runs programs), or the one given on the command line.
  bool FindUsersDownloadFolder();
  void ApplyTrackingKeys();
  uint8_t RunFrontEnd();

  const base::CommandLine& command_line_;
  const base::FilePath environment_install_dir_;
  bool backend_ = false;
  bool uninstall_ = false;
  bool silent_ = false;
  bool run_immediately_ = false;
  bool autoupdate_ = false;
  bool replace_old_installation_ = false;
  bool inside_package_ = false;
  bool x64_candidate_ = false;
  base::FilePath own_folder_;
  base::FilePath own_file_;
  base::FilePath install_folder_;
  base::FilePath download_folder_;
  // An elevated front end's download folder; goes last, once the run's
  // processes have let go of what they ran from it.
  std::unique_ptr<PrivateTempFolder> private_download_folder_;
  std::unique_ptr<base::MessageLoop> message_loop_;
  std::unique_ptr<PayloadReader> payload_reader_;
  std::unique_ptr<Settings> settings_;
};

// An autoupdate started by the former product version T12 passes the
// installation folder as the last token of its command line: that token
// when it is an absolute path, else an empty path.
base::FilePath RecoverInstallFolderFromCommandLine(
    const base::CommandLine& command_line);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_ENTRY_INSTALLER_PROCESS_H_
