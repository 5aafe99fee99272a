#ifndef DESKTOP_WINDOWS_INSTALLER_FRONTEND_SILENT_INSTALLER_CONTROLLER_H_
#define DESKTOP_WINDOWS_INSTALLER_FRONTEND_SILENT_INSTALLER_CONTROLLER_H_

#include <memory>
#include <string>

#include "base/message_loop/loop_runner.h"
#include "base/weak_reference.h"
#include "desktop/windows/installer/frontend/package_collaborators.h"
#include "desktop/windows/installer/frontend/run_end.h"
#include "desktop/windows/installer/ipc/installer_observer.h"
#include "desktop/windows/installer/package_fetcher/package_fetcher.h"
#include "desktop/windows/installer/settings/settings.h"
#include "desktop/windows/installer/stats_sender/stats.h"

namespace base {
class FilePath;
}

namespace installer {

class PayloadReader;

// Runs an installation without any window (switch "silent", also for
// autoupdates): fetches the package when there is a payload reader, starts
// the backend as soon as the folder's status is known, and ends once the
// installation has ended (its verdict the runner's, from the backend's
// end), after sending the statistics report when the
// settings ask for it. Lives on the front end's main thread, which runs a
// default message loop.
class SilentInstallerController : public Settings::Observer,
                                  public PackageFetcher::UIDelegate,
                                  public PackageFetcher::Delegate,
                                  public InstallerObserver {
 public:
  SilentInstallerController();
  SilentInstallerController(const SilentInstallerController&) = delete;
  SilentInstallerController& operator=(const SilentInstallerController&) =
      delete;
  ~SilentInstallerController() override;

  // The whole run; true when the installation succeeded. `payload_reader`
  // (may be null: the run is from an unpacked package or an installation)
  // and `settings` must outlive the controller.
  bool Run(Settings* settings,
           PayloadReader* payload_reader,
           const base::FilePath& download_folder);

  // Settings::Observer:
  void OnSettingsChanged() override {}
  void OnLanguageChanged() override {}
  void OnPathChanged() override;

  // PackageFetcher::UIDelegate: nothing can be shown, every request is
  // answered as a cancelled prompt.
  void RunUICallbackAndPostReply(UICallback ui_callback,
                                 base::RefPtr<base::TaskRunner> reply_runner,
                                 ReplyCallback reply) override;

  // PackageFetcher::Delegate:
  void SetTotalProgress(int total) override {}
  void SetCurrentProgress(int current) override {}
  void NotifyStalled() override {}
  void NotifyStatusChanged(int state) override;

  // InstallerObserver:
  void OnInstallFolderCreated() override {}
  void OnStartingNewMainProcess(bool flag) override {}
  void OnReturnedToPreviousMainProcess() override {}
  void OnTotalSteps(int count) override {}
  void OnStep() override {}
  void OnError(const RunError& error) override;
  void OnSuccess() override;
  void OnInstallerTerminated(bool success) override;

 private:
  void CreateCollaborators(PayloadReader* payload_reader,
                           const base::FilePath& download_folder);
  void StartInstaller();
  // Starts the fetcher deferred until the settings were final.
  void StartDeferredFetcher();
  void HandleTrackingData();
  void OnTrackingDataHandled();
  // Ends the run with `error` unless it already has one.
  void TerminateWithError(const RunEnd::Error& error);
  void Terminate();

  base::LoopRunner loop_runner_;
  bool success_ = false;
  bool will_download_ = false;
  bool package_ready_ = false;
  bool installer_started_ = false;
  // The installer file carries the package, which is unpacked only once
  // the settings tell who unpacks it.
  bool fetcher_start_deferred_ = false;
  Settings* settings_ = nullptr;
  Stats stats_;
  RunEnd run_end_;
  PackageCollaborators parts_;
  base::WeakReferenceSource weak_source_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_FRONTEND_SILENT_INSTALLER_CONTROLLER_H_
