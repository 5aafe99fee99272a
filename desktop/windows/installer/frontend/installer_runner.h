#ifndef DESKTOP_WINDOWS_INSTALLER_FRONTEND_INSTALLER_RUNNER_H_
#define DESKTOP_WINDOWS_INSTALLER_FRONTEND_INSTALLER_RUNNER_H_

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>

#include "base/files/file_path.h"
#include "base/observer_list.h"
#include "base/process/launch.h"
#include "base/process/process.h"
#include "base/win/object_watcher.h"
#include "base/win/scoped_handle.h"
#include "base/win/scoped_named_mutex.h"
#include "desktop/windows/installer/frontend/backend_reports.h"
#include "desktop/windows/installer/ipc/installer_observer.h"
#include "desktop/windows/installer/ipc/ipc_receiver.h"

namespace base {
class CommandLine;
}

namespace installer {

class InstallerObjectNames;
class Settings;

// Runs an installation in a backend process on behalf of the front end:
// takes the installation folder's installer mutex, creates the mailslot and
// the events the backend waits on (new: one that another process made first
// refuses the run, as it could read the reports or signal the events),
// launches the backend with the settings as switches, tells it when the
// package has arrived, interrupts it on cancel, and replays to its observers
// everything the backend reports, ending with `OnInstallerTerminated` once
// the backend process has ended: successful only when the backend reported
// its success after the package was handed over and the process this runner
// started (held by its handle since the launch) exited with 0. Any process
// can write into the mailslot: a success report before the hand-over is
// dropped, as only a forger sends one. It never hands over a package older
// than the installation in the folder. Lives on the front end's main
// thread, which has a message loop.
class InstallerRunner : public base::win::ObjectWatcher::Delegate,
                        public IpcReceiver::Delegate {
 public:
  // The backend "installer.exe" comes from `package_folder` once the
  // package is there. `component_path` (may be empty) is an unpacked
  // component beside it. `package_is_temporary`: the folder is an unpacked
  // copy that goes when the installation ends, not one a user keeps.
  InstallerRunner(const base::FilePath& package_folder,
                  const base::FilePath& component_path,
                  bool package_is_temporary);
  InstallerRunner(const InstallerRunner&) = delete;
  InstallerRunner& operator=(const InstallerRunner&) = delete;
  // Stops.
  ~InstallerRunner() override;

  void AddObserver(InstallerObserver* observer);
  void RemoveObserver(InstallerObserver* observer);

  // Launches the backend for `settings`, which must have their folder's
  // status and outlive the run. True when the backend runs and is watched;
  // false after reporting `OnError` to the observers. Once per run: a
  // second call before `Stop`, or while a backend runs, is a programming
  // error.
  bool StartInstallation(Settings* settings);
  // The package, of internal version `package_version` ("build.patch"), is
  // unpacked in the package folder. A package older than the installation
  // in the folder is not handed over: the run is refused with its error.
  void OnPackageReady(const std::string& package_version);
  // Whether the backend of `settings` unpacks the package itself, from this
  // installer file, instead of running what the front end unpacked in the
  // user's temporary folder: an installation for every user, whose backend
  // is elevated, takes nothing from a folder the user writes.
  bool BackendUnpacksPackage(const Settings& settings) const;
  // Interrupts a running backend and lets go of what the run took. Safe in
  // any state and more than once.
  void Stop();

  // base::win::ObjectWatcher::Delegate (the backend process):
  void OnObjectSignaled(HANDLE object) override;
  // IpcReceiver::Delegate:
  void OnMessageReceived(const InstallerMessage& message) override;

 private:
  // `StartInstallation`'s stages; those returning bool report why they
  // failed.
  bool CanStart(const Settings& settings);
  // Whether the package may go into the folder of `settings`: never an older
  // build over a newer installation. False after reporting why not.
  bool AcceptsPackage(const Settings& settings);
  // Whether a received report may reach the observers.
  bool BelievesReport(const InstallerMessage& message) const;
  base::CommandLine MakeBackendCommandLine(const Settings& settings);
  // What the backend must know of the package: a component suite, and
  // whether the package folder is the run's own.
  void AppendPackageSwitches(base::CommandLine* command_line);
  bool WatchBackend();
  bool AcquireMutex(const std::wstring& name);
  // Creates the mailslot; false after reporting why not.
  bool ConnectReceiver(const std::wstring& channel);
  struct EventDiagnostics {
    const char* not_created;
    const char* made_elsewhere;
  };
  // A manual-reset event that this run made, unsignalled; null after
  // reporting why when it cannot be made or another process made it first.
  base::win::ScopedHandle CreateOwnEvent(const std::wstring& name,
                                         const EventDiagnostics& diagnostics);
  bool ChooseBackendProgram(const InstallerObjectNames& names,
                            base::CommandLine* command_line);
  // Whether the backend of `settings` may run elevated: it then starts
  // from this executable, never from the package's copy in the user's
  // temporary folder, and waits for the package.
  bool BackendMayElevate(const Settings& settings) const;
  bool LaunchBackend(base::CommandLine* command_line);
  base::Process StartBackendProcess(base::CommandLine* command_line,
                                    const base::ProcessLaunchOptions& options);
  void ReportError(int code, const char* diagnostic);
  // A named object of the folder that another process made first.
  void ReportHeldObject(const std::wstring& name, const char* diagnostic);
  void ReportInvalidFolder(const Settings& settings);
  // False, with the reason reported, when an all-users installation may
  // not go to `folder`.
  bool AcceptAllUsersFolder(const base::FilePath& folder);
  // What a dead run's recovery in the folder could not undo.
  void ReportUnfinishedRecovery(const std::wstring& unfinished,
                                uint32_t system_error);
  // Once the backend's last reports are in: its verdict to the observers.
  void FinishRun(bool exit_code_read, DWORD exit_code);
  void ReportTermination(bool success);

  IpcReceiver receiver_;
  // The first observer: it hears every report before the controllers do.
  BackendReports reports_;
  const base::FilePath component_path_;
  const base::FilePath package_folder_;
  const bool package_is_temporary_;
  base::Process backend_;
  // The folder's installer mutex, for one run.
  std::optional<base::win::ScopedNamedMutex> mutex_;
  base::win::ObjectWatcher backend_watcher_;
  base::win::ScopedHandle package_ready_event_;
  base::win::ScopedHandle interrupted_event_;
  // Not owned; null when no run was started since the last `Stop`.
  Settings* settings_ = nullptr;
  bool have_package_ = false;
  std::string package_version_;
  // The running backend was started from the package, or told it is there.
  bool package_handed_over_ = false;
  bool backend_running_ = false;
  base::ObserverList<InstallerObserver> observers_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_FRONTEND_INSTALLER_RUNNER_H_
