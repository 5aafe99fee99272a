#include "desktop/windows/installer/frontend/silent_installer_controller.h"

#include <utility>

#include "base/bind.h"
#include "base/cpu_info.h"
#include "base/current_task_runner_handle.h"
#include "base/files/file_path.h"
#include "base/location.h"
#include "base/logging.h"
#include "base/win/windows_version.h"
#include "desktop/windows/installer/frontend/installer_runner.h"
#include "desktop/windows/installer/package_fetcher/payload_reader.h"
#include "desktop/windows/installer/product/installer_string_ids.h"
#include "desktop/windows/installer/settings/status.h"
#include "desktop/windows/installer/system/utils.h"

namespace installer {

namespace {

const char* BoolText(bool value) {
  return value ? "true" : "false";
}

}  // namespace

SilentInstallerController::SilentInstallerController()
    : stats_(this), run_end_(&loop_runner_, &stats_) {}

SilentInstallerController::~SilentInstallerController() = default;

bool SilentInstallerController::Run(Settings* settings,
                                    PayloadReader* payload_reader,
                                    const base::FilePath& download_folder) {
  settings_ = settings;
  settings_->AddObserver(this);
  CreateCollaborators(payload_reader, download_folder);
  parts_.runner->AddObserver(this);
  if (!settings_->IsStatusPending()) {
    LOG(INFO) << "Settings already obtained. Starting.";
    base::CurrentTaskRunnerHandle::Get()->PostTask(
        FROM_HERE, base::BindWeak(&SilentInstallerController::StartInstaller,
                                  weak_source_.GetRef(), this));
  }
  loop_runner_.Run();
  LOG(INFO) << "Controller exiting";
  parts_.runner->RemoveObserver(this);
  settings_->RemoveObserver(this);
  return success_;
}

void SilentInstallerController::CreateCollaborators(
    PayloadReader* payload_reader,
    const base::FilePath& download_folder) {
  parts_ = PackageCollaborators::Create(payload_reader, download_folder,
                                        *settings_, stats_.root(), this, this);
  if (!parts_.package_fetcher) {
    package_ready_ = true;
    return;
  }
  // An installation for every user unpacks the package in its elevated
  // backend; the mode may still change with the folder's status.
  fetcher_start_deferred_ =
      payload_reader->type() == PayloadReader::kFullPackage &&
      parts_.runner->BackendUnpacksPackage(*settings_);
  if (!fetcher_start_deferred_)
    parts_.package_fetcher->Start();
}

void SilentInstallerController::StartDeferredFetcher() {
  if (!fetcher_start_deferred_)
    return;
  fetcher_start_deferred_ = false;
  parts_.package_fetcher->Start(
      parts_.runner->BackendUnpacksPackage(*settings_)
          ? PackageFetcher::Unpack::kInBackend
          : PackageFetcher::Unpack::kInFrontEnd);
}

void SilentInstallerController::OnPathChanged() {
  // The status of a folder chosen later changes nothing of a running
  // installation.
  if (installer_started_ || run_end_.ended())
    return;
  const Status* status = settings_->GetStatus();
  if (!settings_->GetFlag(AUTOUPDATE) &&
      NeedsElevation(settings_->GetFlag(ALL_USERS_FLAG),
                     status->has_write_access)) {
    const base::FilePath folder =
        settings_->GetDefaultInstallFolderForCurrentMode(
            Settings::kFromCommandLine | Settings::kFromStandardFolder);
    if (!(folder == status->install_folder)) {
      // Its status comes back through here.
      settings_->SetInstallFolderIfAllowed(folder);
      return;
    }
  }
  LOG(INFO) << "Settings obtained. Starting.";
  StartInstaller();
}

void SilentInstallerController::StartInstaller() {
  settings_->WriteStats(stats_.root(), std::string());
  if (base::win::GetWindowsVersion() < base::win::kVersionWin7) {
    LOG(ERROR) << "This version of Tarvo doesn't support windows versions "
               << "prior to Windows 7";
    TerminateWithError({kStringInstallerError, std::wstring(),
                        "Windows older than Windows 7"});
    return;
  }
  if (!base::CpuInfo().has_sse2()) {
    LOG(ERROR) << "SSE2 not supported by the computer";
    TerminateWithError(
        {kStringNoSse2, std::wstring(), "SSE2 not supported by the computer"});
    return;
  }
  installer_started_ = true;
  StartDeferredFetcher();
  if (package_ready_) {
    LOG(INFO) << "Got tracking data from package.";
    HandleTrackingData();
  }
  LOG(INFO) << "Preparing to run the installer.";
  if (!parts_.runner->StartInstallation(settings_)) {
    Terminate();
    return;
  }
  run_end_.OnBackendStarted();
}

void SilentInstallerController::NotifyStatusChanged(int state) {
  switch (state) {
    case PackageFetcher::FETCHING_DOWNLOAD_URL:
      LOG(INFO) << "Package will be downloaded.";
      will_download_ = true;
      return;
    case PackageFetcher::PACKAGE_READY:
      LOG(INFO) << "Package fetched successfully.";
      package_ready_ = true;
      // Until the installer starts, starting it handles the tracking data:
      // handling it here as well would fetch the preference defaults twice.
      if (!installer_started_ || run_end_.ended())
        return;
      LOG(INFO) << "Got tracking data from status.";
      HandleTrackingData();
      return;
    case PackageFetcher::INITIALIZATION_FAILED:
    case PackageFetcher::DOWNLOAD_FAILED:
    case PackageFetcher::UNPACKING_FAILED:
      if (parts_.package_fetcher->Retry())
        return;
      LOG(INFO) << "Package fetcher failed.";
      TerminateWithError(RunEnd::FetchFailureError(
          state, parts_.package_fetcher->GetFailureCause(),
          parts_.package_fetcher->download_folder()));
      return;
    default:
      return;
  }
}

void SilentInstallerController::HandleTrackingData() {
  parts_.HandleTrackingData(
      *settings_, stats_.root(),
      base::BindWeak(&SilentInstallerController::OnTrackingDataHandled,
                     weak_source_.GetRef(), this));
}

void SilentInstallerController::OnTrackingDataHandled() {
  LOG(INFO) << "Tracking data actions done: package complete.";
  parts_.runner->OnPackageReady(parts_.GetPackageVersion());
}

void SilentInstallerController::RunUICallbackAndPostReply(
    UICallback ui_callback,
    base::RefPtr<base::TaskRunner> reply_runner,
    ReplyCallback reply) {
  LOG(ERROR) << "Cannot display UI requested by fetcher when running silently";
  // 0 is a cancelled prompt.
  reply_runner->PostTask(
      FROM_HERE, base::Bind([](ReplyCallback& callback) { callback.Run(0); },
                            std::move(reply)));
}

void SilentInstallerController::OnError(const RunError& error) {
  if (!run_end_.KeepFirstError(error))
    return;
  LOG(INFO) << "Installer error: terminating";
  Terminate();
}

void SilentInstallerController::TerminateWithError(const RunEnd::Error& error) {
  if (!run_end_.has_error())
    run_end_.SetError(error);
  Terminate();
}

// Only a report: the verdict comes with the backend's end, which may still
// fail the run.
void SilentInstallerController::OnSuccess() {
  LOG(INFO) << "Installer reported success; waiting for it to end";
}

void SilentInstallerController::OnInstallerTerminated(bool success) {
  // A run whose end was decided keeps its verdict: the exit code says what
  // the log and the report said.
  if (!run_end_.ended())
    success_ = success;
  LOG(INFO) << "Installer ended. Success is " << BoolText(success)
            << ". terminating";
  // Nothing is left to wait for: the runner reads the backend's last
  // reports out of the channel before it tells of the end.
  base::CurrentTaskRunnerHandle::Get()->PostTask(
      FROM_HERE, base::BindWeak(&SilentInstallerController::Terminate,
                                weak_source_.GetRef(), this));
  run_end_.OnBackendEnded();
}

void SilentInstallerController::Terminate() {
  if (run_end_.ended()) {
    LOG(INFO) << "Termination already done.";
    return;
  }
  // A backend still waiting for the package would wait for ever; one that
  // failed rolls back. The run ends with the backend either way; success is
  // known only once it has ended.
  if (!success_)
    parts_.runner->Stop();
  RunEnd::ReportPolicy report;
  // Autoupdates report failures only.
  report.send = settings_->GetFlag(ENABLE_INSTALLER_STATS) &&
                (!settings_->GetFlag(AUTOUPDATE) || !success_);
  report.wait_for_network = will_download_;
  run_end_.End(success_, report);
}

}  // namespace installer
