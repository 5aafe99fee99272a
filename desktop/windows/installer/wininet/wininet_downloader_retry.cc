// How a download goes on after an interruption: retries counted against the
// limit, resumes with a byte range, the proxy credentials' answer, and the
// watch for a server gone silent, all on the owner thread.

#include <string>

#include "base/bind.h"
#include "base/location.h"
#include "base/logging.h"
#include "base/strings/string_format.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/utf_string_conversions.h"
#include "base/time/tick_time.h"
#include "base/time/time_delta.h"
#include "desktop/windows/installer/wininet/download_observer.h"
#include "desktop/windows/installer/wininet/url_parts.h"
#include "desktop/windows/installer/wininet/wininet_downloader.h"
#include "desktop/windows/installer/wininet/wininet_error_text.h"

namespace installer {

namespace {

constexpr base::TimeDelta kRetryDelay = base::TimeDelta::FromMicroseconds(6000000);

}  // namespace

void WinInetDownloader::NoteActivity() {
  last_activity_ = base::TickTime::Now().ToInternalValue();
}

void WinInetDownloader::CheckRetriesAndResume(uint32_t download_id,
                                              int code) {
  if (!IsActive(download_id))
    return;
  const bool brought_data = bytes_received_ > chunk_start_;
  if (brought_data)
    retries_without_data_ = 0;
  if (retries_without_data_ > 1 && delegate_)
    delegate_->NotifyStalled();
  // Every retry and resume counts, so that a server that keeps answering
  // and dropping the connection ends the download.
  if (retry_count_ > retry_limit_) {
    // The code is a WinINet error, an HTTP status or 0 (a short body).
    AppendError(base::FormatString(
                    "Number of retries exceeded, last error: %d", code),
                IsWinInetError(static_cast<DWORD>(code))
                    ? static_cast<DWORD>(code)
                    : 0);
    OnDownloadFailed(download_id);
    return;
  }
  LOG(INFO) << "Retrying " << retry_count_ << " of " << retry_limit_;
  ++retry_count_;
  ++retries_without_data_;
  // A transfer that was moving resumes at once; one that got nothing waits.
  task_runner_->PostTaskWithDelay(
      FROM_HERE,
      base::BindWeak(&WinInetDownloader::ResumeDownload, self_ref_, this,
                     download_id),
      brought_data ? base::TimeDelta() : kRetryDelay);
}

void WinInetDownloader::ResumeDownload(uint32_t download_id) {
  if (!IsActive(download_id))
    return;
  const int64_t bytes = bytes_received_;
  observer_->OnChunkEnd(static_cast<int>(bytes));
  CloseRequest();
  LOG(INFO) << "Attempting download resume";
  const std::wstring range =
      whole_body_wanted_.exchange(false)
          ? std::wstring()
          : L"Range: bytes=" + base::Int64ToString16(bytes) + L"-";
  UrlParts parts;
  if (!CrackUrl(url_, &parts)) {
    AppendError(base::FormatString("Cannot parse URL on resume %s",
                                   base::WideToUtf8(url_).c_str()));
    OnDownloadFailed(download_id);
    return;
  }
  if (retries_without_data_ <= 1)
    observer_->OnChunkStart(static_cast<int>(bytes));
  observer_->OnRetry(retry_count_);
  chunk_start_ = bytes;
  if (!OpenRequest(parts, range)) {
    LOG(ERROR) << "Could not resume downloading";
    OnDownloadFailed(download_id);
  }
}

void WinInetDownloader::OnProxyCredentials(uint32_t download_id, int result) {
  if (!IsActive(download_id))
    return;
  awaiting_credentials_ = false;
  NoteActivity();
  if (result == ERROR_INTERNET_FORCE_RETRY) {
    LOG(INFO) << "Logged in to proxy - resuming download";
    ResumeDownload(download_id);
    return;
  }
  if (result == ERROR_SUCCESS || result == ERROR_CANCELLED)
    LOG(ERROR) << "The user cancelled the prompt for proxy credentials";
  else
    LOG(ERROR) << "Failed to obtain credentials for proxy";
  OnDownloadFailed(download_id);
}

void WinInetDownloader::WatchForSilence(uint32_t download_id) {
  NoteActivity();
  awaiting_credentials_ = false;
  silence_timer_.Start(FROM_HERE, timeout_,
                       base::BindWeak(&WinInetDownloader::CheckForSilence,
                                      self_ref_, this, download_id));
}

void WinInetDownloader::CheckForSilence(uint32_t download_id) {
  if (!IsActive(download_id) || !request_context_)
    return;
  const base::TimeDelta quiet =
      base::TickTime::Now() -
      base::TickTime::FromInternalValue(last_activity_.load());
  if (awaiting_credentials_ || quiet < timeout_) {
    silence_timer_.Start(
        FROM_HERE, awaiting_credentials_ ? timeout_ : timeout_ - quiet,
        base::BindWeak(&WinInetDownloader::CheckForSilence, self_ref_, this,
                       download_id));
    return;
  }
  LOG(WARNING) << "No progress from the server for " << quiet.InMilliseconds()
               << " ms; taking the connection for dropped";
  observer_->OnWinInetError(static_cast<int>(ERROR_INTERNET_TIMEOUT));
  CloseRequest();
  CheckRetriesAndResume(download_id, ERROR_INTERNET_TIMEOUT);
}

}  // namespace installer
