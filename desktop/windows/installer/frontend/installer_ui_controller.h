#ifndef DESKTOP_WINDOWS_INSTALLER_FRONTEND_INSTALLER_UI_CONTROLLER_H_
#define DESKTOP_WINDOWS_INSTALLER_FRONTEND_INSTALLER_UI_CONTROLLER_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/closure.h"
#include "base/message_loop/loop_runner.h"
#include "base/weak_reference.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/frontend/package_collaborators.h"
#include "desktop/windows/installer/frontend/run_end.h"
#include "desktop/windows/installer/ipc/installer_observer.h"
#include "desktop/windows/installer/package_fetcher/package_fetcher.h"
#include "desktop/windows/installer/settings/settings.h"
#include "desktop/windows/installer/stats_sender/stats.h"
#include "desktop/windows/installer/ui/installer_window.h"

namespace base {
class FilePath;
}

namespace installer {

class PayloadReader;

// Runs an installation that a user watches and steers in the installer
// window: one window per download folder (the UI lock), the package fetched
// while the user decides, the backend started on Accept, fetch states and
// backend steps turned into one progress bar, errors held back until they
// can be shown, and the statistics report sent at the end. Lives on the
// front end's main thread, which runs a user-interface message loop.
class InstallerUIController : public Settings::Observer,
                              public InstallerWindow::Delegate,
                              public PackageFetcher::UIDelegate,
                              public PackageFetcher::Delegate,
                              public InstallerObserver {
 public:
  InstallerUIController();
  InstallerUIController(const InstallerUIController&) = delete;
  InstallerUIController& operator=(const InstallerUIController&) = delete;
  ~InstallerUIController() override;

  // The whole run; true when the installation succeeded, false also when
  // another installer window of the folder was brought forward instead.
  // `settings` and `payload_reader` (may be null) must outlive the
  // controller.
  bool RunUI(Settings* settings,
             PayloadReader* payload_reader,
             const base::FilePath& download_folder,
             bool run_immediately);

  // Takes the folder's UI lock: the current thread's id when it got it, 0
  // when there is no lock to be had, else the id of the thread whose window
  // holds it.
  uint32_t AcquireUILock(const base::FilePath& download_folder);

  // Settings::Observer:
  void OnSettingsChanged() override {}
  void OnLanguageChanged() override {}
  void OnPathChanged() override;

  // InstallerWindow::Delegate:
  void OnAccept() override;
  void OnCancel() override;
  void OnGetFullPackage() override;

  // PackageFetcher::UIDelegate:
  void RunUICallbackAndPostReply(UICallback ui_callback,
                                 base::RefPtr<base::TaskRunner> reply_runner,
                                 ReplyCallback reply) override;

  // PackageFetcher::Delegate:
  void SetTotalProgress(int total) override;
  void SetCurrentProgress(int current) override;
  void NotifyStalled() override {}
  void NotifyStatusChanged(int state) override;

  // InstallerObserver:
  void OnInstallFolderCreated() override {}
  void OnStartingNewMainProcess(bool flag) override {}
  void OnReturnedToPreviousMainProcess() override {}
  void OnTotalSteps(int count) override;
  void OnStep() override;
  void OnError(const RunError& error) override;
  void OnSuccess() override;
  void OnInstallerTerminated(bool success) override;

  // Where the progress bar stands: the weights of the phases done and the
  // part of the current one; out of `GetProgressTotal`.
  int ComputeProgress() const;
  int GetProgressTotal() const;

 private:
  // Opens the full package's page in the default browser, or in Internet
  // Explorer when this installation's browser handles the page.
  void OpenFullPackagePage(const std::wstring& wide_url);
  // An error to be shown once the window can show it.
  using PendingError = RunEnd::Error;

  void CreateCollaborators(PayloadReader* payload_reader,
                           const base::FilePath& download_folder);
  void Init();
  void WriteInitialStats();
  void SetPhase(int phase);
  void ShowPhase();
  void UpdateProgress();
  void HandleTrackingData();
  void OnTrackingDataHandled();
  void ReportError(const PendingError& error);
  void HandlePendingError();
  bool OfferCurrentUserInstallation();
  void DoRunUICallbackAndPostReply(UICallback& ui_callback,
                                   base::RefPtr<base::TaskRunner>& reply_runner,
                                   ReplyCallback& reply);
  void TerminateUI();
  void DeleteClosedWindow();

  base::LoopRunner loop_runner_;
  Settings* settings_ = nullptr;
  // A fetcher request waiting for Accept; run with true it is answered as
  // cancelled instead.
  base::Callback<void(bool)> pending_fetcher_callback_;
  bool installation_started_ = false;
  std::unique_ptr<PendingError> pending_error_;
  int phase_ = 0;
  bool fetch_failed_ = false;
  const std::vector<int> phase_weights_;
  int progress_total_ = 0;
  int progress_current_ = 0;
  bool run_immediately_ = false;
  bool no_fetcher_ = false;
  bool will_download_ = false;
  bool error_shown_once_ = false;
  bool accept_waiting_for_status_ = false;
  bool initial_stats_written_ = false;
  bool success_ = false;
  bool ui_terminated_ = false;
  // The user cancelled, left for the full package or closed the window once
  // the installation succeeded: the run ends within seconds.
  bool user_quit_ = false;
  base::win::ScopedHandle ui_lock_file_;
  Stats stats_;
  RunEnd run_end_;
  std::unique_ptr<InstallerWindow> window_;
  // The window after the UI ended, kept until a task of its own deletes it:
  // the end may come from inside the window's dialog procedure.
  std::unique_ptr<InstallerWindow> closed_window_;
  PackageCollaborators parts_;
  base::WeakReferenceSource weak_source_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_FRONTEND_INSTALLER_UI_CONTROLLER_H_
