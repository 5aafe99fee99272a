#include "desktop/windows/installer/frontend/run_end.h"

#include "base/bind.h"
#include "base/current_task_runner_handle.h"
#include "base/files/file_path.h"
#include "base/location.h"
#include "base/logging.h"
#include "base/message_loop/loop_runner.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/windows/installer/frontend/error_cause.h"
#include "desktop/windows/installer/package_fetcher/package_fetcher.h"
#include "desktop/windows/installer/product/installer_string_ids.h"
#include "desktop/windows/installer/signing/signature_refusal.h"
#include "desktop/windows/installer/stats_sender/stats.h"
#include "desktop/windows/installer/transactions/file_errors.h"

namespace installer {

namespace {

// The statistics report's failure reason of every failed fetch.
constexpr char kFetcherFailureReason[] = "Fetcher error";

}  // namespace

// static
std::wstring RunEnd::WindowText(const Error& error) {
  return ErrorWindowText(error.code, error.detail, error.cause);
}

// static
RunEnd::Error RunEnd::FetchFailureError(
    int state,
    const PackageFetcher::FailureCause& cause,
    const base::FilePath& download_folder) {
  const bool unpacking = state == PackageFetcher::UNPACKING_FAILED;
  // "Check your Internet connection" would send the user the wrong way.
  if (IsDiskFullError(cause.write_error)) {
    return {unpacking ? kStringDownloadFolderFullWhileUnpacking
                      : kStringDownloadFolderFullWhileDownloading,
            download_folder.value(), kFetcherFailureReason, cause.write_error};
  }
  // A refused signature is no matter of the network either: the window
  // names what refused it.
  if (cause.signature.refusal != SignatureRefusal::kNone) {
    return {RefusalMessage(cause.signature), std::wstring(),
            kFetcherFailureReason};
  }
  if (cause.older_than_installer) {
    return {kStringPackageOlderThanInstaller, std::wstring(),
            kFetcherFailureReason};
  }
  return {unpacking ? kStringUnpackingFailed : kStringDownloadFailed,
          std::wstring(), kFetcherFailureReason};
}

RunEnd::RunEnd(base::LoopRunner* loop_runner, Stats* stats)
    : loop_runner_(loop_runner), stats_(stats) {}

RunEnd::~RunEnd() = default;

void RunEnd::SetError(const Error& error) {
  error_ = error;
  stats_->root()->SetString("failure_reason", error.message);
}

bool RunEnd::KeepFirstError(const Error& error) {
  if (error_kept_) {
    LOG(INFO) << "Keeping the first error, not " << error.code << ": "
              << error.message;
    return false;
  }
  ReplaceError(error);
  return true;
}

void RunEnd::ReplaceError(const Error& error) {
  error_kept_ = true;
  SetError(error);
}

void RunEnd::OnBackendEnded() {
  backend_running_ = false;
  QuitWhenDone();
}

void RunEnd::End(bool success, const ReportPolicy& policy) {
  if (ended_) {
    LOG(INFO) << "Termination already done.";
    return;
  }
  ended_ = true;
  stats_->root()->SetInteger("installation_success", success ? 1 : 0);
  if (success)
    stats_->root()->Remove("failure_reason");
  LogOutcome(success);
  SendReport(policy);
  QuitWhenDone();
}

// The user, or whoever helps them, reads this log first: a failure is told
// as the window tells it, with the diagnostic behind it.
void RunEnd::LogOutcome(bool success) const {
  if (success) {
    LOG(INFO) << "The run succeeded";
    return;
  }
  if (!has_error()) {
    LOG(ERROR) << "The run failed without an error to show";
    return;
  }
  LOG(ERROR) << "The run failed with error " << error_.code << ": \""
             << base::WideToUtf8(WindowText(error_)) << "\" ("
             << error_.message << ")";
}

void RunEnd::SendReport(const ReportPolicy& policy) {
  if (!policy.send) {
    LOG(INFO) << "Not sending stats";
    return;
  }
  LOG(INFO) << "Sending stats";
  report_pending_ = true;
  stats_->Send(
      base::BindWeak(&RunEnd::OnReportSent, weak_source_.GetRef(), this),
      policy.wait_for_network);
  if (policy.max_wait.is_zero())
    return;
  base::CurrentTaskRunnerHandle::Get()->PostTaskWithDelay(
      FROM_HERE,
      base::BindWeak(&RunEnd::StopWaitingForReport, weak_source_.GetRef(),
                     this, policy.max_wait),
      policy.max_wait);
}

void RunEnd::StopWaitingForReport(base::TimeDelta waited) {
  if (!report_pending_)
    return;
  LOG(WARNING) << "The report was not sent within " << waited.InMilliseconds()
               << " ms of the quit; not waiting for it";
  report_pending_ = false;
  QuitWhenDone();
}

void RunEnd::OnReportSent() {
  report_pending_ = false;
  QuitWhenDone();
}

void RunEnd::QuitWhenDone() {
  if (ended_ && !report_pending_ && !backend_running_)
    loop_runner_->Quit();
}

}  // namespace installer
