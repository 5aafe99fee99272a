#include "desktop/windows/installer/frontend/installer_ui_controller.h"

#include <windows.h>

#include <shellapi.h>

#include <numeric>
#include <utility>

#include "base/bind.h"
#include "base/cpu_info.h"
#include "base/current_task_runner_handle.h"
#include "base/features/feature_tables.h"
#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/files/final_path.h"
#include "base/files/new_file_in_folder.h"
#include "base/files/resolved_entry.h"
#include "base/location.h"
#include "base/logging.h"
#include "base/strings/string_format.h"
#include "base/strings/utf_string_conversions.h"
#include "base/time/time_delta.h"
#include "base/win/scoped_named_mutex.h"
#include "base/win/windows_version.h"
#include "desktop/windows/installer/frontend/installer_runner.h"
#include "desktop/windows/installer/product/branding.h"
#include "desktop/windows/installer/product/installer_string_ids.h"
#include "desktop/windows/installer/product/installer_version.h"
#include "desktop/windows/installer/product_environment/folder_product_environment.h"
#include "desktop/windows/installer/settings/may_run_elevated.h"
#include "desktop/windows/installer/settings/status.h"
#include "desktop/windows/installer/system/utils.h"
#include "desktop/windows/installer/ui/win32_dialog_dispatcher.h"
#include "desktop/windows/rc_l10n_handler/ui_language.h"

namespace installer {

namespace {

// One weight per phase: start and location request, package download,
// unpacking, additional items, package ready, installing.
constexpr int kPhaseWeights[] = {1, 1000, 200, 1, 1, 100};
constexpr int kPhaseAdditionalFiles = 3;
constexpr int kPhasePackageReady = 4;
constexpr int kPhaseInstalling = 5;

constexpr wchar_t kUILockFileName[] = L"installer.lck";
// Another window holds the mutex only while it makes its lock file.
constexpr DWORD kUIMutexWaitMs = 10000;
// Lets the backend's own error, which travels apart from the news of its
// end, arrive first.
constexpr base::TimeDelta kPendingErrorDelay =
    base::TimeDelta::FromMilliseconds(100);
constexpr int32_t kChannelWithoutProductQuery = 4;

BOOL CALLBACK BringWindowForward(HWND window, LPARAM) {
  if (!::IsWindowEnabled(window) || !::IsWindowVisible(window))
    return TRUE;
  ::SetForegroundWindow(window);
  return FALSE;
}

// How long a run that the user quit still waits for its report: the user
// expects the process gone, whatever the network does.
constexpr base::TimeDelta kReportWaitAfterQuit =
    base::TimeDelta::FromSeconds(5);

void PostReply(base::TaskRunner& reply_runner,
               const base::SourceLocation& from_here,
               PackageFetcher::UIDelegate::ReplyCallback reply,
               int result) {
  reply_runner.PostTask(
      from_here,
      base::Bind([](PackageFetcher::UIDelegate::ReplyCallback& callback,
                    int value) { callback.Run(value); },
                 std::move(reply), result));
}

// The thread of the window that holds the lock file `path`, as that window
// wrote it; 0 when the name holds no plain file of its own in its folder
// (anyone may have put a link or a second name of another file there).
uint32_t ReadLockOwner(const base::FilePath& path) {
  // Shares deletion: the holder made the file to go when it closes it.
  const base::win::ScopedHandle file(::CreateFileW(
      path.value().c_str(), GENERIC_READ,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
      nullptr));
  const base::FilePath in_folder =
      base::ResolvedEntry::GetFinalPath(path.DirName())
          .Append(path.BaseName().value());
  BY_HANDLE_FILE_INFORMATION info = {};
  uint32_t owner = 0;
  DWORD read = 0;
  if (!file.IsValid() || !::GetFileInformationByHandle(file.Get(), &info) ||
      (info.dwFileAttributes &
       (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ||
      info.nNumberOfLinks != 1 ||
      !base::NewFileInFolder::IsSamePlace(
          base::GetFinalPath(file.Get(), path.value()), in_folder.value()) ||
      !::ReadFile(file.Get(), &owner, sizeof(owner), &read, nullptr) ||
      read != sizeof(owner)) {
    LOG(WARNING) << "Existing installer UI lock file is invalid";
    return 0;
  }
  return owner;
}

}  // namespace

InstallerUIController::InstallerUIController()
    : loop_runner_(Win32DialogDispatcher::GetInstance()),
      phase_weights_(std::begin(kPhaseWeights), std::end(kPhaseWeights)),
      stats_(this),
      run_end_(&loop_runner_, &stats_) {}

InstallerUIController::~InstallerUIController() {
  // The window's delegate list must not outlive this delegate.
  if (window_)
    window_->RemoveDelegate(this);
}

bool InstallerUIController::RunUI(Settings* settings,
                                  PayloadReader* payload_reader,
                                  const base::FilePath& download_folder,
                                  bool run_immediately) {
  const uint32_t lock_owner = AcquireUILock(download_folder);
  if (lock_owner != 0 && lock_owner != ::GetCurrentThreadId()) {
    LOG(INFO) << "Another instance of the installer UI is running. "
              << "Switching to it";
    ::EnumThreadWindows(lock_owner, &BringWindowForward, 0);
    return false;
  }
  settings_ = settings;
  run_immediately_ = run_immediately;
  no_fetcher_ = payload_reader == nullptr;
  CreateCollaborators(payload_reader, download_folder);
  base::CurrentTaskRunnerHandle::Get()->PostTask(
      FROM_HERE, base::BindWeak(&InstallerUIController::Init,
                                weak_source_.GetRef(), this));
  loop_runner_.Run();
  LOG(INFO) << "Controller exiting";
  parts_.runner->RemoveObserver(this);
  settings_->RemoveObserver(this);
  return success_;
}

uint32_t InstallerUIController::AcquireUILock(
    const base::FilePath& download_folder) {
  LOG(INFO) << "Getting installer UI mutex";
  const std::wstring mutex_name =
      base::FormatWideString(L"Local\\%ls/Installer/UI_lock",
                             base::Utf8ToWide(GetProductName()).c_str());
  base::win::ScopedNamedMutex mutex(mutex_name);
  if (!mutex.IsValid()) {
    LOG(WARNING) << "Failed to create installer UI mutex.";
    return 0;
  }
  // Only orders the lock file's making among the windows: a wait that
  // failed or ran out (logged; anyone may hold the name) leaves the file to
  // decide alone, as it would.
  if (!mutex.Acquire(kUIMutexWaitMs))
    LOG(WARNING) << "Making the installer UI lock file without the mutex";
  // The folder is the user's and this process may be elevated: the file is
  // made new, never through a link planted under its name. One that an
  // ended run left goes first, judged (a link goes as a link or stays); one
  // that a window holds stays and is read.
  const base::FilePath lock_path = download_folder.Append(kUILockFileName);
  base::DeletePath(lock_path, false);
  ui_lock_file_.Set(::CreateFileW(
      lock_path.value().c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
      CREATE_NEW,
      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE |
          FILE_FLAG_OPEN_REPARSE_POINT,
      nullptr));
  uint32_t owner = 0;
  if (ui_lock_file_.IsValid()) {
    owner = ::GetCurrentThreadId();
    DWORD written = 0;
    ::WriteFile(ui_lock_file_.Get(), &owner, sizeof(owner), &written, nullptr);
    LOG(INFO) << "Obtained installer UI lock";
  } else {
    LOG(INFO) << "Didn't obtain installer UI lock";
    owner = ReadLockOwner(lock_path);
  }
  mutex.Release();
  return owner;
}

void InstallerUIController::CreateCollaborators(
    PayloadReader* payload_reader,
    const base::FilePath& download_folder) {
  parts_ = PackageCollaborators::Create(payload_reader, download_folder,
                                        *settings_, stats_.root(), this, this);
  if (!parts_.package_fetcher)
    phase_ = kPhasePackageReady;
}

void InstallerUIController::Init() {
  LOG(INFO) << "Initializing installer UI";
  settings_->AddObserver(this);
  parts_.runner->AddObserver(this);
  window_ = InstallerWindow::Create(settings_, stats_.root(), run_immediately_);
  if (!window_) {
    const std::string reason = "Could not initialize installer window";
    OnError({kStringInstallerError, std::wstring(), reason, 0});
    LOG(ERROR) << reason;
    // No page could show the error and no backend runs whose end would
    // close the UI: the run ends here, with its report.
    TerminateUI();
    return;
  }
  window_->AddDelegate(this);
  window_->SetPhase(phase_);
  if (!base::CpuInfo().has_sse2()) {
    LOG(ERROR) << "SSE2 not supported by the computer";
    const PendingError error = {kStringNoSse2, std::wstring(),
                                "SSE2 not supported by the computer"};
    run_end_.SetError(error);
    window_->ShowMessageBox(RunEnd::WindowText(error));
    return;
  }
  if (!no_fetcher_) {
    LOG(INFO) << "Starting the package fetcher";
    parts_.package_fetcher->Start();
  }
  if (!settings_->IsStatusPending())
    WriteInitialStats();
  stats_.root()->SetInteger("run_immediately", run_immediately_ ? 1 : 0);
  if (run_immediately_ && !settings_->IsStatusPending()) {
    LOG(INFO) << "runimmediately set and status already fetched.";
    base::CurrentTaskRunnerHandle::Get()->PostTask(
        FROM_HERE, base::BindWeak(&InstallerUIController::OnAccept,
                                  weak_source_.GetRef(), this));
  }
}

void InstallerUIController::WriteInitialStats() {
  initial_stats_written_ = true;
  settings_->WriteStats(stats_.root(), "ui.initial_");
}

void InstallerUIController::OnPathChanged() {
  LOG(INFO) << "New status obtained";
  if (phase_ == kPhaseInstalling && parts_.tracking_data.empty()) {
    // The new folder's status carries tracking data of its own.
    LOG(INFO) << "Need to handle tracking data from new path";
    phase_ = kPhasePackageReady;
  }
  if (run_immediately_ || accept_waiting_for_status_) {
    LOG(INFO) << "runimmediately set or Accept already clicked";
    accept_waiting_for_status_ = false;
    base::CurrentTaskRunnerHandle::Get()->PostTask(
        FROM_HERE, base::BindWeak(&InstallerUIController::OnAccept,
                                  weak_source_.GetRef(), this));
  }
  if (!initial_stats_written_)
    WriteInitialStats();
}

void InstallerUIController::OnAccept() {
  LOG(INFO) << "Accept clicked.";
  if (ui_terminated_)
    return;
  if (installation_started_) {
    LOG(WARNING) << "Installation already in progress.";
    return;
  }
  if (settings_->IsStatusPending()) {
    LOG(INFO) << "Still waiting for status";
    accept_waiting_for_status_ = true;
    return;
  }
  if (phase_ == kPhasePackageReady) {
    LOG(INFO) << "Tracking data is ready for handling";
    HandleTrackingData();
  }
  settings_->RemoveObserver(this);
  settings_->WriteStats(stats_.root(), std::string());
  if (base::win::GetWindowsVersion() < base::win::kVersionWin7) {
    const PendingError error = {
        kStringOldWindows, GetLocalizedString(kStringGetFullInstaller),
        "This version of Tarvo doesn't support windows versions prior to "
        "Windows 7"};
    run_end_.SetError(error);
    window_->ShowError(RunEnd::WindowText(error), true, error.message);
    return;
  }
  installation_started_ = true;
  if (pending_error_) {
    LOG(INFO) << "An error is pending. Show it first.";
    HandlePendingError();
    return;
  }
  if (!parts_.runner->StartInstallation(settings_)) {
    LOG(INFO) << "Failed to run the backend. Show whatever error was reported";
    HandlePendingError();
    return;
  }
  run_end_.OnBackendStarted();
  if (pending_fetcher_callback_) {
    LOG(INFO) << "Running pending fetcher callback.";
    const base::Callback<void(bool)> callback =
        std::move(pending_fetcher_callback_);
    callback.Run(false);
  }
  if (fetch_failed_) {
    LOG(INFO) << "Restarting fetching after background tries failed.";
    // Cleared so that the restarted fetch's own failures count anew, and a
    // later Accept does not restart a fetch whose package the backend may
    // already run from.
    fetch_failed_ = false;
    SetPhase(0);
    parts_.package_fetcher->Start();
  }
  window_->StartProgress(ComputeProgress(), GetProgressTotal(), false);
  ShowPhase();
}

void InstallerUIController::OnCancel() {
  if (success_) {
    // Nothing is left to cancel: the window goes, and the run ends with
    // the backend, its verdict still the backend's.
    LOG(INFO) << "The window was closed after the installation succeeded";
    user_quit_ = true;
    if (window_)
      ::ShowWindow(window_->GetHwnd(), SW_HIDE);
    return;
  }
  LOG(INFO) << "The run was cancelled by the user";
  user_quit_ = true;
  stats_.root()->SetInteger("installation_cancelled", 1);
  TerminateUI();
}

void InstallerUIController::OnGetFullPackage() {
  LOG(INFO) << "Obtaining full package";
  std::string url = GetBrandingUrl("download_full_windows");
  if (base::GetReleaseChannel() != kChannelWithoutProductQuery) {
    url += base::FormatString("&product=%s%%20%s", GetProductName().c_str(),
                              GetStreamName().c_str());
  }
  const std::wstring wide_url = base::Utf8ToWide(url);
  if (MayRunElevated()) {
    // The user's own handler of the page, or a program named through the
    // user's environment, would run with rights the user does not have.
    LOG(WARNING) << "An installer that may run elevated opens no page";
  } else {
    OpenFullPackagePage(wide_url);
  }
  user_quit_ = true;
  stats_.root()->SetInteger("installation_cancelled", 2);
  TerminateUI();
}

void InstallerUIController::OpenFullPackagePage(const std::wstring& wide_url) {
  FolderProductEnvironment environment(settings_->GetStatus()->install_folder);
  const bool ours = environment.IsAssociationOurs(L"http", true) ||
                    environment.IsAssociationOurs(L"http", false);
  SHELLEXECUTEINFOW info = {};
  info.cbSize = sizeof(info);
  info.fMask = SEE_MASK_DOENVSUBST;
  info.lpVerb = L"open";
  info.nShow = SW_SHOW;
  // This installation's browser may be half installed: another one opens
  // the page.
  if (!ours) {
    LOG(INFO) << "Downloading full package with default browser";
    info.lpFile = wide_url.c_str();
  } else {
    LOG(INFO) << "Downloading full package with IE";
    info.lpFile = L"%ProgramFiles%\\Internet Explorer\\iexplore.exe";
    info.lpParameters = wide_url.c_str();
  }
  if (!::ShellExecuteExW(&info))
    PLOG(ERROR) << "Opening the full package's page failed";
}

void InstallerUIController::NotifyStatusChanged(int state) {
  switch (state) {
    case PackageFetcher::FETCHING_DOWNLOAD_URL:
      LOG(INFO) << "Package will be downloaded.";
      will_download_ = true;
      SetPhase(0);
      break;
    case PackageFetcher::DOWNLOAD_URL_FETCHED:
      SetPhase(1);
      break;
    case PackageFetcher::UNPACKING:
      SetPhase(2);
      break;
    case PackageFetcher::FETCHING_ADDITIONAL_FILES:
      SetPhase(kPhaseAdditionalFiles);
      break;
    case PackageFetcher::PACKAGE_READY:
      LOG(INFO) << "Package fetched successfully.";
      SetPhase(kPhasePackageReady);
      if (installation_started_) {
        LOG(INFO) << "Got tracking data from status.";
        HandleTrackingData();
      }
      break;
    case PackageFetcher::INITIALIZATION_FAILED:
    case PackageFetcher::DOWNLOAD_FAILED:
    case PackageFetcher::UNPACKING_FAILED:
      LOG(INFO) << "Package fetcher failed.";
      if (parts_.package_fetcher->Retry()) {
        SetPhase(0);
        break;
      }
      fetch_failed_ = true;
      if (installation_started_) {
        LOG(INFO) << "Reporting fetcher error.";
        const RunEnd::Error error = RunEnd::FetchFailureError(
            state, parts_.package_fetcher->GetFailureCause(),
            parts_.package_fetcher->download_folder());
        run_end_.ReplaceError(error);
        ReportError(error);
      } else {
        LOG(INFO) << "Exceeded maximum number of fetcher retries,"
                  << " we won't retry until user decides to.";
      }
      break;
    default:
      break;
  }
  ShowPhase();
}

void InstallerUIController::SetPhase(int phase) {
  phase_ = phase;
}

void InstallerUIController::ShowPhase() {
  if (window_ && installation_started_)
    window_->SetPhase(phase_);
}

void InstallerUIController::SetTotalProgress(int total) {
  progress_current_ = 0;
  // Nothing inside that phase is measured.
  progress_total_ = phase_ == kPhaseAdditionalFiles ? 0 : total;
}

void InstallerUIController::SetCurrentProgress(int current) {
  if (progress_total_ == 0)
    return;
  progress_current_ = current;
  UpdateProgress();
}

void InstallerUIController::OnTotalSteps(int count) {
  progress_total_ = count;
  progress_current_ = 1;
}

void InstallerUIController::OnStep() {
  ++progress_current_;
  UpdateProgress();
}

int InstallerUIController::ComputeProgress() const {
  const int done = std::accumulate(phase_weights_.begin(),
                                   phase_weights_.begin() + phase_, 0);
  float part = 0.0f;
  if (progress_total_ != 0) {
    part = static_cast<float>(phase_weights_[phase_]) *
           static_cast<float>(progress_current_) /
           static_cast<float>(progress_total_);
  }
  return static_cast<int>(static_cast<float>(done) + part);
}

int InstallerUIController::GetProgressTotal() const {
  const int total =
      std::accumulate(phase_weights_.begin(), phase_weights_.end(), 0);
  return total < 1 ? 1 : total;
}

void InstallerUIController::UpdateProgress() {
  if (!window_ || !installation_started_)
    return;
  LOG(INFO) << "Updating installation progress";
  window_->SetProgress(ComputeProgress());
}

void InstallerUIController::HandleTrackingData() {
  parts_.HandleTrackingData(
      *settings_, stats_.root(),
      base::BindWeak(&InstallerUIController::OnTrackingDataHandled,
                     weak_source_.GetRef(), this));
}

void InstallerUIController::OnTrackingDataHandled() {
  LOG(INFO) << "Tracking data actions done: package complete.";
  SetPhase(kPhaseInstalling);
  parts_.runner->OnPackageReady(parts_.GetPackageVersion());
  if (window_ && installation_started_) {
    LOG(INFO) << "Notifying installation phase change.";
    ShowPhase();
  }
}

void InstallerUIController::OnError(const RunError& error) {
  if (run_end_.KeepFirstError(error))
    ReportError(error);
}

void InstallerUIController::ReportError(const PendingError& error) {
  LOG(INFO) << "Reporting error " << error.code;
  pending_error_ = std::make_unique<PendingError>(error);
  // A running backend's end then comes as OnInstallerTerminated.
  parts_.runner->Stop();
}

void InstallerUIController::OnSuccess() {
  LOG(INFO) << "Installer success reported";
  // A run whose end was decided keeps its verdict.
  if (ui_terminated_)
    return;
  success_ = true;
  if (window_)
    window_->SetInstallationDone();
}

void InstallerUIController::OnInstallerTerminated(bool success) {
  LOG(INFO) << "Installer termination reported";
  run_end_.OnBackendEnded();
  if (ui_terminated_) {
    LOG(INFO) << "UI already terminated";
    return;
  }
  success_ = success;
  if (success) {
    LOG(INFO) << "Installer terminated successfully. Finishing.";
    progress_current_ = progress_total_;
    UpdateProgress();
    TerminateUI();
    return;
  }
  if (!pending_error_) {
    const bool uninstalling = settings_->GetFlag(UNINSTALL_FLAG);
    const std::string reason = uninstalling ? "Unreported uninstaller error."
                                            : "Unreported installer error.";
    OnError({uninstalling ? kStringUninstallerError : kStringInstallerError,
             std::wstring(), reason, 0});
    LOG(ERROR) << reason;
  }
  base::CurrentTaskRunnerHandle::Get()->PostTaskWithDelay(
      FROM_HERE,
      base::BindWeak(&InstallerUIController::HandlePendingError,
                     weak_source_.GetRef(), this),
      kPendingErrorDelay);
}

void InstallerUIController::HandlePendingError() {
  LOG(INFO) << "Handling pending error";
  // The delayed call may come after the UI ended.
  if (ui_terminated_ || !pending_error_)
    return;
  // A window closed after the success was reported shows nothing more: a
  // backend that failed after all is told in the log and the report.
  if (user_quit_) {
    TerminateUI();
    return;
  }
  installation_started_ = false;
  settings_->set_changeable(true);
  settings_->AddObserver(this);
  if (OfferCurrentUserInstallation())
    return;
  const bool offer_full_package =
      error_shown_once_ && parts_.package_fetcher &&
      (phase_ < kPhaseAdditionalFiles || will_download_);
  error_shown_once_ = true;
  const std::unique_ptr<PendingError> error = std::move(pending_error_);
  run_end_.OnErrorHandled();
  window_->ShowError(RunEnd::WindowText(*error), offer_full_package,
                     error->message);
}

// An all-users installation refused for lack of administrator rights is
// tried again for the current user.
bool InstallerUIController::OfferCurrentUserInstallation() {
  const Status* status = settings_->GetStatus();
  if (pending_error_->code != kStringNoAdministratorPrivileges ||
      settings_->operation() != Settings::kInstalling ||
      !settings_->GetFlag(ALL_USERS_FLAG)) {
    return false;
  }
  const bool default_folder =
      base::FilePath::CompareIgnoreCase(
          status->install_folder,
          settings_->GetDefaultInstallFolderForCurrentMode(
              Settings::kFromRegistry | Settings::kFromStandardFolder)) == 0;
  if (!default_folder && !status->has_write_access)
    return false;
  LOG(INFO) << "Offering the user to switch to a Current User install";
  settings_->SetAllUsers(false);
  if (default_folder && NeedsElevation(settings_->GetFlag(ALL_USERS_FLAG),
                                       status->has_write_access)) {
    settings_->SetInstallFolderIfAllowed(
        settings_->GetDefaultInstallFolderForCurrentMode(
            Settings::kFromStandardFolder));
  }
  pending_error_.reset();
  run_end_.OnErrorHandled();
  OnAccept();
  return true;
}

void InstallerUIController::RunUICallbackAndPostReply(
    UICallback ui_callback,
    base::RefPtr<base::TaskRunner> reply_runner,
    ReplyCallback reply) {
  LOG(INFO) << "Obtained UI callback request from fetcher";
  if (ui_terminated_) {
    LOG(INFO) << "UI has been terminated already.";
    PostReply(*reply_runner, FROM_HERE, std::move(reply), ERROR_CANCELLED);
    return;
  }
  if (installation_started_ && !pending_error_) {
    LOG(INFO) << "Run the callback at once.";
    DoRunUICallbackAndPostReply(ui_callback, reply_runner, reply);
    return;
  }
  LOG(INFO) << "Store callback information for later.";
  // The request it replaces would otherwise never be answered, and its
  // download would wait for ever.
  if (pending_fetcher_callback_) {
    const base::Callback<void(bool)> replaced =
        std::move(pending_fetcher_callback_);
    replaced.Run(true);
  }
  pending_fetcher_callback_ = base::Bind<void(bool)>(
      [](InstallerUIController* controller, UICallback& callback,
         base::RefPtr<base::TaskRunner>& runner, ReplyCallback& reply_to,
         bool cancelled) {
        if (cancelled) {
          PostReply(*runner, FROM_HERE, std::move(reply_to), ERROR_CANCELLED);
          return;
        }
        controller->DoRunUICallbackAndPostReply(callback, runner, reply_to);
      },
      this, std::move(ui_callback), std::move(reply_runner), std::move(reply));
}

void InstallerUIController::DoRunUICallbackAndPostReply(
    UICallback& ui_callback,
    base::RefPtr<base::TaskRunner>& reply_runner,
    ReplyCallback& reply) {
  const int result = ui_terminated_ || !window_
                         ? ERROR_CANCELLED
                         : ui_callback.Run(window_->GetHwnd());
  PostReply(*reply_runner, FROM_HERE, std::move(reply), result);
}

void InstallerUIController::TerminateUI() {
  LOG(INFO) << "Terminating the UI";
  if (ui_terminated_) {
    LOG(INFO) << "Installer UI already terminated";
    return;
  }
  ui_terminated_ = true;
  if (window_) {
    window_->RemoveDelegate(this);
    // This may run inside the window's own dialog procedure.
    ::ShowWindow(window_->GetHwnd(), SW_HIDE);
    closed_window_ = std::move(window_);
    base::CurrentTaskRunnerHandle::Get()->PostTask(
        FROM_HERE, base::BindWeak(&InstallerUIController::DeleteClosedWindow,
                                  weak_source_.GetRef(), this));
  }
  parts_.runner->Stop();
  ui_lock_file_.Close();
  RunEnd::ReportPolicy report;
  report.send = settings_->GetFlag(ENABLE_INSTALLER_STATS) &&
                !settings_->GetFlag(AUTOUPDATE);
  // After a quit the report goes out without waiting for the network, and
  // only for a few seconds: against an unreachable server it would
  // otherwise keep the process for many minutes.
  report.wait_for_network = will_download_ && !user_quit_;
  if (user_quit_)
    report.max_wait = kReportWaitAfterQuit;
  run_end_.End(success_, report);
}

void InstallerUIController::DeleteClosedWindow() {
  closed_window_.reset();
}

}  // namespace installer
