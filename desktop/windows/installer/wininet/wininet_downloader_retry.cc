// How a download goes on after an interruption: retries counted against the
// limit, resumes with a byte range, the proxy credentials' answer, and the
// watch for a server gone silent, all on the owner thread.

#include <algorithm>
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
#include "desktop/windows/installer/wininet/head_memory_watch.h"
#include "desktop/windows/installer/wininet/url_parts.h"
#include "desktop/windows/installer/wininet/wininet_downloader.h"
#include "desktop/windows/installer/wininet/wininet_error_text.h"

namespace installer {

namespace {

constexpr base::TimeDelta kRetryDelay = base::TimeDelta::FromMicroseconds(6000000);

// The longest a download may take, retries and resumes included. The retry
// limit alone allows an hour of waiting (600 retries 6 s apart) and a 200 MB
// package takes over an hour at 384 kbit/s: no download that would complete
// comes near this, while one that is kept alive without end stops here.
constexpr base::TimeDelta kTransferTimeLimit = base::TimeDelta::FromSeconds(4 * 3600);

// The least a body must bring in each window of the time-out (60 s): 68
// bytes a second, some fiftieth of the slowest mobile data link. A server
// that trickles below it keeps the silence watch content for ever; resuming
// it would only bring the trickle again, so the download fails.
constexpr int64_t kMinBytesPerWindow = 4096;

// No attempt waits longer than the four-hour limit, so no count comes near
// an int's range; the cap only keeps the sum safe.
constexpr int64_t kMaxRetriesWaited = 1 << 20;

// WinINet keeps at most a few connections to a server for reuse; one shut
// down is dropped by the request it is given. More resends than these mean
// something else fails the same way, which then counts as a retry.
constexpr int kMaxResends = 8;

}  // namespace

void WinInetDownloader::NoteActivity() {
  last_activity_ = base::TickTime::Now().ToInternalValue();
}

void WinInetDownloader::StartProgressWindow() {
  window_start_bytes_ = bytes_read_.load();
  window_start_ = base::TickTime::Now().ToInternalValue();
}

void WinInetDownloader::CheckRetriesAndResume(uint32_t request_id,
                                              int code) {
  if (!IsActive(request_id) || EndIfPastTimeLimit(request_id))
    return;
  const bool brought_data = bytes_received_ > chunk_start_;
  if (brought_data)
    retries_without_data_ = 0;
  if (retries_without_data_ > 1 && delegate_)
    delegate_->NotifyStalled();
  // The time an attempt waited in vain counts as the retries an unreachable
  // server would have had meanwhile: all of it when it brought nothing,
  // else the quiet at its end.
  const base::TickTime waited_since =
      brought_data ? base::TickTime::FromInternalValue(last_activity_.load())
                   : attempt_started_;
  retry_count_ += RetriesWaited(base::TickTime::Now() - waited_since);
  // Every retry and resume counts, so that a server that keeps answering
  // and dropping the connection ends the download.
  if (retry_count_ > retry_limit_) {
    // The code is a WinINet error, an HTTP status or 0 (a short body).
    AppendError(base::FormatString(
                    "Number of retries exceeded, last error: %d", code),
                IsWinInetError(static_cast<DWORD>(code))
                    ? static_cast<DWORD>(code)
                    : 0);
    OnDownloadFailed(request_id);
    return;
  }
  LOG(INFO) << "Retrying " << retry_count_ << " of " << retry_limit_;
  ++retry_count_;
  ++retries_without_data_;
  // The attempt ends now, not after the pause: its silence watch would take
  // a pause longer than the time-out for a server gone silent and resume it
  // once more, and so would a retry the request still posts.
  CloseRequest();
  // A transfer that was moving resumes at once; one that got nothing waits.
  task_runner_->PostTaskWithDelay(
      FROM_HERE,
      base::BindWeak(&WinInetDownloader::ResumeDownload, self_ref_, this,
                     request_id_.load()),
      brought_data ? base::TimeDelta() : kRetryDelay);
}

// static
int WinInetDownloader::RetriesWaited(base::TimeDelta waited) {
  if (waited <= base::TimeDelta())
    return 0;
  return static_cast<int>(std::min<int64_t>(
      waited.InMilliseconds() / kRetryDelay.InMilliseconds(), kMaxRetriesWaited));
}

void WinInetDownloader::ResumeDownload(uint32_t request_id) {
  if (!IsActive(request_id))
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
    OnDownloadFailed(request_id_);
    return;
  }
  if (retries_without_data_ <= 1)
    observer_->OnChunkStart(static_cast<int>(bytes));
  observer_->OnRetry(retry_count_);
  chunk_start_ = bytes;
  if (!BeginRequest(parts, range)) {
    LOG(ERROR) << "Could not resume downloading";
    OnDownloadFailed(request_id_);
  }
}

void WinInetDownloader::ResendRequest(uint32_t request_id) {
  if (!IsActive(request_id))
    return;
  if (++resends_ > kMaxResends) {
    CheckRetriesAndResume(request_id, WSAESHUTDOWN);
    return;
  }
  CloseRequest();
  UrlParts parts;
  if (!CrackUrl(request_url_, &parts) || !SendRequest(parts)) {
    LOG(ERROR) << "Could not send the request again";
    OnDownloadFailed(request_id_);
  }
}

void WinInetDownloader::OnProxyCredentials(uint32_t request_id, int result) {
  if (!IsActive(request_id))
    return;
  awaiting_credentials_ = false;
  NoteActivity();
  if (result == ERROR_INTERNET_FORCE_RETRY) {
    LOG(INFO) << "Logged in to proxy - resuming download";
    ResumeDownload(request_id);
    return;
  }
  if (result == ERROR_SUCCESS || result == ERROR_CANCELLED)
    LOG(ERROR) << "The user cancelled the prompt for proxy credentials";
  else
    LOG(ERROR) << "Failed to obtain credentials for proxy";
  OnDownloadFailed(request_id);
}

void WinInetDownloader::WatchForSilence(uint32_t request_id) {
  request_sent_at_ = base::TickTime::Now();
  NoteActivity();
  awaiting_credentials_ = false;
  head_watch_.Start();
  silence_timer_.Start(FROM_HERE,
                       std::min(timeout_, HeadMemoryWatch::kInterval),
                       base::BindWeak(&WinInetDownloader::CheckForSilence,
                                      self_ref_, this, request_id));
}

void WinInetDownloader::CheckForSilence(uint32_t request_id) {
  if (!IsActive(request_id) || !request_context_ ||
      EndIfPastTimeLimit(request_id)) {
    return;
  }
  const base::TickTime now = base::TickTime::Now();
  // Until the head of its answer is read, a request is timed from when it
  // was sent: a status line or headers that trickle or never end keep
  // WinINet busy but bring no answer.
  const bool awaiting_head = state_ == REQUEST_SENT;
  if (awaiting_head && !awaiting_credentials_ &&
      EndIfHeadTooLarge(request_id)) {
    return;
  }
  const base::TimeDelta quiet =
      now - (awaiting_head
                 ? request_sent_at_
                 : base::TickTime::FromInternalValue(last_activity_.load()));
  if (awaiting_credentials_ || quiet < timeout_) {
    if (!awaiting_credentials_ && EndIfTooSlow(request_id))
      return;
    base::TimeDelta next = awaiting_credentials_ ? timeout_ : timeout_ - quiet;
    if (state_ == RECEIVING) {
      const base::TimeDelta window_left =
          timeout_ - (now - base::TickTime::FromInternalValue(window_start_));
      next = std::min(next, window_left);
    }
    if (awaiting_head && !awaiting_credentials_)
      next = std::min(next, HeadMemoryWatch::kInterval);
    silence_timer_.Start(
        FROM_HERE, std::max(next, base::TimeDelta::FromMilliseconds(1)),
        base::BindWeak(&WinInetDownloader::CheckForSilence, self_ref_, this,
                       request_id));
    return;
  }
  LOG(WARNING) << (awaiting_head ? "No answer from the server in "
                                  : "No progress from the server for ")
               << quiet.InMilliseconds()
               << " ms; taking the connection for dropped";
  observer_->OnWinInetError(static_cast<int>(ERROR_INTERNET_TIMEOUT));
  CheckRetriesAndResume(request_id, ERROR_INTERNET_TIMEOUT);
}

bool WinInetDownloader::EndIfHeadTooLarge(uint32_t request_id) {
  const int64_t growth = head_watch_.GrowthPastBound();
  if (!growth)
    return false;
  LOG(WARNING) << "The head of the answer grew the process by " << growth
               << " bytes while it was awaited, past the bound of "
               << HeadMemoryWatch::kBound
               << " bytes; taking the answer for a bad one";
  observer_->OnWinInetError(
      static_cast<int>(ERROR_HTTP_INVALID_SERVER_RESPONSE));
  CheckRetriesAndResume(request_id, ERROR_HTTP_INVALID_SERVER_RESPONSE);
  return true;
}

bool WinInetDownloader::EndIfPastTimeLimit(uint32_t request_id) {
  if (base::TickTime::Now() - started_at_ < kTransferTimeLimit)
    return false;
  AppendError(base::FormatString(
      "Download not complete after %lld minutes",
      static_cast<long long>(kTransferTimeLimit.InMilliseconds() / 60000)));
  OnDownloadFailed(request_id);
  return true;
}

bool WinInetDownloader::EndIfTooSlow(uint32_t request_id) {
  // Only a body is judged: how long a server takes to answer is the
  // silence watch's to judge.
  if (state_ != RECEIVING)
    return false;
  const base::TickTime now = base::TickTime::Now();
  if (now - base::TickTime::FromInternalValue(window_start_) < timeout_)
    return false;
  const int64_t brought = bytes_read_ - window_start_bytes_;
  if (brought >= kMinBytesPerWindow) {
    StartProgressWindow();
    return false;
  }
  AppendError(base::FormatString(
      "Download too slow: %lld bytes in %lld ms, fewer than %lld",
      static_cast<long long>(brought),
      static_cast<long long>(
          (now - base::TickTime::FromInternalValue(window_start_))
              .InMilliseconds()),
      static_cast<long long>(kMinBytesPerWindow)));
  observer_->OnWinInetError(static_cast<int>(ERROR_INTERNET_TIMEOUT));
  OnDownloadFailed(request_id);
  return true;
}

}  // namespace installer
