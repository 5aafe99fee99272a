#ifndef DESKTOP_WINDOWS_INSTALLER_IPC_INSTALLER_OBSERVER_H_
#define DESKTOP_WINDOWS_INSTALLER_IPC_INSTALLER_OBSERVER_H_

#include <cstdint>
#include <string>

namespace installer {

// A run's error, one value from the step machine to the front end's end of
// the run: `code` is a string-table id of the text shown to the user,
// `detail` its "$1" argument (a folder or file, or empty), `message` the
// English diagnostic for logs and statistics, `cause` the Windows error
// behind it (0: none known).
struct RunError {
  int code = 0;
  std::wstring detail;
  std::string message;
  uint32_t cause = 0;
};

// What an installation reports, in the order it can happen. The step machine
// calls it in the backend process; the backend forwards all but the last
// operation over the mailslot, and the runner replays them in the front end,
// where the last one comes from the backend process's exit.
class InstallerObserver {
 public:
  virtual ~InstallerObserver() = default;

  virtual void OnInstallFolderCreated() = 0;
  // Another process takes over as the installing one (an elevated relaunch,
  // or the package's own installer); `flag` travels as it stands.
  virtual void OnStartingNewMainProcess(bool flag) = 0;
  virtual void OnReturnedToPreviousMainProcess() = 0;
  virtual void OnTotalSteps(int count) = 0;
  virtual void OnStep() = 0;
  virtual void OnError(const RunError& error) = 0;
  virtual void OnSuccess() = 0;
  virtual void OnInstallerTerminated(bool success) = 0;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_IPC_INSTALLER_OBSERVER_H_
