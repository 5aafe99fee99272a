#include "desktop/windows/installer/wininet/wininet_downloader.h"

#include <algorithm>
#include <iterator>
#include <string>
#include <utility>

#include "base/bind.h"
#include "base/current_task_runner_handle.h"
#include "base/location.h"
#include "base/logging.h"
#include "base/strings/string_format.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/utf_string_conversions.h"
#include "base/time/time_delta.h"
#include "desktop/windows/installer/installer_version.h"
#include "desktop/windows/installer/wininet/content_range.h"
#include "desktop/windows/installer/wininet/download_observer.h"
#include "desktop/windows/installer/wininet/response_writer.h"
#include "desktop/windows/installer/wininet/url_parts.h"
#include "desktop/windows/installer/wininet/wininet_error_text.h"
#include "desktop/windows/installer/wininet/wininet_termination_thread.h"

namespace installer {

namespace {

// Each read costs WinINet a fixed overhead (two status notices among it), so
// small blocks cap the rate far below the link's: 1 KiB blocks reach some
// 16 MB/s over loopback under Wine, 1 MiB blocks over 1 GB/s. The buffer is
// still fixed, so memory does not grow with the download.
constexpr DWORD kReadBufferSize = 1024 * 1024;

constexpr base::TimeDelta kRetryDelay = base::TimeDelta::FromMicroseconds(6000000);

// Without a limit a server that keeps the connection open and sends nothing
// holds a download for ever: WinINet's reads never time out by themselves.
constexpr base::TimeDelta kDefaultTimeout = base::TimeDelta::FromSeconds(60);

constexpr DWORD kTimeoutOptions[] = {INTERNET_OPTION_CONNECT_TIMEOUT,
                                     INTERNET_OPTION_SEND_TIMEOUT,
                                     INTERNET_OPTION_RECEIVE_TIMEOUT};

constexpr const wchar_t* kRecordedHeaders[] = {L"Date", L"Server",
                                               L"X-Served-By",
                                               L"Content-Length"};

// Request completions with these errors are worth another try.
constexpr DWORD kConnectivityErrors[] = {
    ERROR_INTERNET_TIMEOUT,           ERROR_INTERNET_NAME_NOT_RESOLVED,
    ERROR_INTERNET_CANNOT_CONNECT,    ERROR_INTERNET_CONNECTION_ABORTED,
    ERROR_INTERNET_CONNECTION_RESET,  ERROR_HTTP_INVALID_SERVER_RESPONSE};

// Reads that fail with these lost the connection in the middle of a body; a
// read that timed out waited on a server gone silent.
constexpr DWORD kReadConnectivityErrors[] = {ERROR_INTERNET_TIMEOUT,
                                             ERROR_INTERNET_NAME_NOT_RESOLVED,
                                             ERROR_INTERNET_CONNECTION_ABORTED,
                                             ERROR_INTERNET_CONNECTION_RESET};

constexpr int kGatewayStatuses[] = {HTTP_STATUS_BAD_GATEWAY,
                                    HTTP_STATUS_SERVICE_UNAVAIL,
                                    HTTP_STATUS_GATEWAY_TIMEOUT};

template <class Table, class Value>
bool Contains(const Table& table, Value value) {
  return std::find(std::begin(table), std::end(table), value) !=
         std::end(table);
}

std::wstring UserAgent() {
  return L"Tarvo NetInstaller/" + base::Utf8ToWide(BuildVersionString());
}

std::wstring ToLowerAscii(std::wstring text) {
  for (wchar_t& c : text) {
    if (c >= L'A' && c <= L'Z')
      c = c - L'A' + L'a';
  }
  return text;
}

// The value of one response header; empty when it is absent.
std::wstring QueryHeader(HINTERNET request, const wchar_t* name) {
  std::wstring buffer(256, L'\0');
  for (int attempt = 0; attempt < 2; ++attempt) {
    // HTTP_QUERY_CUSTOM reads the header's name from the buffer.
    buffer.replace(0, wcslen(name) + 1, name, wcslen(name) + 1);
    DWORD size = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
    if (::HttpQueryInfoW(request, HTTP_QUERY_CUSTOM, buffer.data(), &size,
                         nullptr)) {
      buffer.resize(size / sizeof(wchar_t));
      return buffer;
    }
    if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER)
      break;
    buffer.assign(std::max<size_t>(size / sizeof(wchar_t) + 1, wcslen(name) + 1),
                  L'\0');
  }
  return std::wstring();
}

void SetTimeouts(HINTERNET session, base::TimeDelta timeout) {
  DWORD milliseconds = static_cast<DWORD>(timeout.InMilliseconds());
  for (DWORD option : kTimeoutOptions) {
    if (!::InternetSetOptionW(session, option, &milliseconds,
                              sizeof(milliseconds))) {
      const DWORD error = ::GetLastError();
      LOG(WARNING) << "Could not set WinINet time-out option " << option
                   << ": " << WinInetErrorText(error);
    }
  }
}

int ShowProxyCredentialsDialog(HINTERNET request, HWND window) {
  return static_cast<int>(::InternetErrorDlg(
      window, request, ERROR_INTERNET_INCORRECT_PASSWORD,
      FLAGS_ERROR_UI_FILTER_FOR_ERRORS | FLAGS_ERROR_UI_FLAGS_CHANGE_OPTIONS |
          FLAGS_ERROR_UI_FLAGS_GENERATE_DATA,
      nullptr));
}

}  // namespace

WinInetDownloader::WinInetDownloader(PackageFetcher::UIDelegate* ui_delegate,
                                     PackageFetcher::Delegate* delegate)
    : ui_delegate_(ui_delegate),
      delegate_(delegate),
      timeout_(kDefaultTimeout),
      handles_closed_(::CreateEventW(nullptr, TRUE, TRUE, nullptr)),
      cancelled_(std::make_unique<base::AtomicFlag>()),
      buffer_(std::make_unique<char[]>(kReadBufferSize)),
      self_ref_(weak_source_.GetRef()) {
  CHECK(ui_delegate_);
  CHECK(handles_closed_.IsValid());
}

WinInetDownloader::~WinInetDownloader() {
  Terminate();
  JoinTerminationThread();
}

bool WinInetDownloader::Start(const std::wstring& url,
                              const std::string& body,
                              base::Closure completion_callback,
                              std::unique_ptr<ResponseWriter> writer,
                              std::unique_ptr<DownloadObserver> observer) {
  CHECK(writer);
  CHECK(observer);
  LOG(INFO) << "Starting download from " << base::WideToUtf8(url);
  {
    base::AutoLock hold(error_lock_);
    errors_.clear();
  }
  // Before the writer and observer change hands: until the previous session
  // is closed, its callbacks may still use them.
  Terminate();
  JoinTerminationThread();
  {
    base::AutoLock hold(writer_lock_);
    writer_ = std::move(writer);
    writer_finished_ = false;
  }
  observer_ = std::move(observer);
  completion_callback_ = std::move(completion_callback);
  task_runner_ = base::CurrentTaskRunnerHandle::Get();
  url_ = url;
  ++download_id_;
  state_ = IDLE;

  UrlParts parts;
  if (!CrackUrl(url, &parts)) {
    AppendError(base::FormatString("Could not parse URL %s",
                                   base::WideToUtf8(url).c_str()));
    state_ = FAILED;
    return false;
  }
  if (!IsDomainAllowed(allowed_host_suffixes_, parts.host)) {
    AppendError(base::FormatString("Domain disallowed %s",
                                   base::WideToUtf8(parts.host).c_str()));
    state_ = FAILED;
    return false;
  }

  expected_size_ = 0;
  bytes_received_ = 0;
  chunk_start_ = 0;
  last_read_ = 0;
  retry_count_ = 0;
  retries_without_data_ = 0;
  progress_posted_ = false;
  whole_body_wanted_ = false;

  const std::wstring user_agent = UserAgent();
  session_.Set(::InternetOpenW(user_agent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG,
                               nullptr, nullptr, INTERNET_FLAG_ASYNC));
  if (!session_.IsValid()) {
    AppendError(base::FormatString("InternetOpen failed for %s",
                                   base::WideToUtf8(user_agent).c_str()),
                ::GetLastError());
    state_ = FAILED;
    return false;
  }
  SetTimeouts(session_.Get(), timeout_);
  ::InternetSetStatusCallbackW(session_.Get(), &InternetStatusCallback);
  cancelled_ = std::make_unique<base::AtomicFlag>();
  made_handles_ = false;
  ::ResetEvent(handles_closed_.Get());
  body_ = body;

  connection_.Set(::InternetConnectW(
      session_.Get(), parts.host.c_str(), static_cast<INTERNET_PORT>(parts.port),
      nullptr, nullptr, INTERNET_SERVICE_HTTP, 0,
      reinterpret_cast<DWORD_PTR>(this)));
  if (!connection_.IsValid()) {
    AppendError(base::FormatString("InternetConnect failed for %s:%d",
                                   base::WideToUtf8(parts.host).c_str(),
                                   parts.port),
                ::GetLastError());
    Terminate();
    state_ = FAILED;
    return false;
  }
  made_handles_ = true;
  ++open_handles_;

  observer_->OnChunkStart(0);
  if (!OpenRequest(parts, std::wstring())) {
    LOG(ERROR) << "Could not send Request";
    Terminate();
    state_ = FAILED;
    return false;
  }
  return true;
}

void WinInetDownloader::Stop() {
  LOG(INFO) << "Stopping the download";
  Terminate();
  state_ = STOPPED;
}

std::string WinInetDownloader::GetErrors() const {
  base::AutoLock hold(error_lock_);
  return errors_;
}

// static
bool WinInetDownloader::IsDomainAllowed(
    const std::vector<std::wstring>& suffixes,
    const std::wstring& host) {
  if (suffixes.empty())
    return true;
  const std::wstring lower_host = ToLowerAscii(host);
  for (const std::wstring& suffix : suffixes) {
    std::wstring entry = ToLowerAscii(suffix);
    if (!entry.empty() && entry[0] == L'.')
      entry.erase(0, 1);
    if (entry.empty())
      continue;
    if (lower_host == entry)
      return true;
    // Only whole labels: "xexample.org" does not lie inside "example.org".
    const std::wstring dotted = L"." + entry;
    if (lower_host.size() > dotted.size() &&
        lower_host.compare(lower_host.size() - dotted.size(), dotted.size(),
                           dotted) == 0) {
      return true;
    }
  }
  return false;
}

bool WinInetDownloader::OpenRequest(const UrlParts& parts,
                                    const std::wstring& extra_headers) {
  VLOG(1) << "Opening internet request";
  const bool is_post = !body_.empty();
  // Not kept in WinINet's cache: a package would be written to disk twice,
  // which halves the rate of a download to a file.
  DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE;
  if (parts.scheme == INTERNET_SCHEME_HTTPS)
    flags |= INTERNET_FLAG_SECURE;
  HINTERNET request = ::HttpOpenRequestW(
      connection_.Get(), is_post ? L"POST" : L"GET", parts.path.c_str(),
      L"HTTP/1.1", nullptr, nullptr, flags, reinterpret_cast<DWORD_PTR>(this));
  if (!request) {
    const DWORD error = ::GetLastError();
    AppendError(base::FormatString(
        "HttpOpenRequest failed for %s:%d%s, scheme %d, payload empty %d",
        base::WideToUtf8(parts.host).c_str(), parts.port,
        base::WideToUtf8(parts.path).c_str(), parts.scheme, is_post ? 0 : 1),
        error);
    return false;
  }
  ++open_handles_;
  request_.Set(request);

  VLOG(1) << (is_post ? "Sending POST request" : "Sending GET request");
  // Before sending: the request's completion may arrive on a WinINet thread
  // before HttpSendRequestW returns, and must find the request sent.
  state_ = REQUEST_SENT;
  if (::HttpSendRequestW(
          request, extra_headers.empty() ? nullptr : extra_headers.c_str(),
          static_cast<DWORD>(extra_headers.size()),
          is_post ? const_cast<char*>(body_.data()) : nullptr,
          static_cast<DWORD>(is_post ? body_.size() : 0)) ||
      ::GetLastError() == ERROR_IO_PENDING) {
    return true;
  }
  const DWORD error = ::GetLastError();
  AppendError(base::FormatString(
      "HttpSendRequest failed for %s:%d%s, scheme %d, payload empty %d",
      base::WideToUtf8(parts.host).c_str(), parts.port,
      base::WideToUtf8(parts.path).c_str(), parts.scheme, is_post ? 0 : 1),
      error);
  return false;
}

// static
void CALLBACK WinInetDownloader::InternetStatusCallback(
    HINTERNET handle,
    DWORD_PTR context,
    DWORD status,
    void* information,
    DWORD information_length) {
  // The session handle carries no context.
  if (!context)
    return;
  reinterpret_cast<WinInetDownloader*>(context)->OnStatus(
      handle, status, information, information_length);
}

void WinInetDownloader::OnStatus(HINTERNET handle,
                                 DWORD status,
                                 void* information,
                                 DWORD information_length) {
  VLOG(2) << "InternatStatusCallback called with code " << status;
  if (status == INTERNET_STATUS_HANDLE_CLOSING) {
    // The last notice of a handle; the downloader may be gone right after.
    OnHandleClosing();
    return;
  }
  if (cancelled_->IsSet()) {
    VLOG(1) << "Wininet request cancelled. unregistering the callback.";
    return;
  }
  switch (status) {
    case INTERNET_STATUS_CONNECTED_TO_SERVER:
      if (information)
        observer_->OnConnected(static_cast<const char*>(information));
      break;
    case INTERNET_STATUS_REQUEST_COMPLETE:
      OnRequestComplete(
          handle, static_cast<INTERNET_ASYNC_RESULT*>(information)->dwError);
      break;
    case INTERNET_STATUS_REDIRECT:
      if (information)
        OnRedirect(static_cast<const wchar_t*>(information));
      break;
    default:
      break;
  }
}

void WinInetDownloader::OnHandleClosing() {
  HANDLE handles_closed = handles_closed_.Get();
  if (open_handles_.fetch_sub(1) == 1)
    ::SetEvent(handles_closed);
}

void WinInetDownloader::OnRequestComplete(HINTERNET handle, DWORD error) {
  observer_->OnWinInetError(static_cast<int>(error));
  if (error == ERROR_SUCCESS) {
    VLOG(2) << "Handling request completion";
    HandleRequestCompletion(handle);
  } else if (Contains(kConnectivityErrors, error)) {
    LOG(WARNING) << "Request completed with an error "
                    "indicating connectivity issues: "
                 << error << ": " << WinInetErrorText(error);
    PostRetry(static_cast<int>(error));
  } else {
    AppendError(base::FormatString(
                    "Request completed with an unexpected error: %d",
                    static_cast<int>(error)),
                error);
    PostFailure();
  }
}

void WinInetDownloader::OnRedirect(const std::wstring& url) {
  VLOG(1) << "Redirect occured";
  observer_->OnRedirect(url);
  UrlParts parts;
  if (!CrackUrl(url, &parts)) {
    AppendError(base::FormatString("Redirect URL failed to parse %s",
                                   base::WideToUtf8(url).c_str()));
  } else if (!IsDomainAllowed(allowed_host_suffixes_, parts.host)) {
    AppendError(base::FormatString("Redirect URL is disallowed %s",
                                   base::WideToUtf8(url).c_str()));
  } else {
    return;
  }
  // Nothing of this transfer is handled any more: WinINet may still follow
  // the redirect (Wine does) and complete the closed request, and what that
  // brings must not reach the writer. Closing the handles here, once, stops
  // the transfer; the owner's Terminate then finds nothing left to close.
  cancelled_->Set();
  request_.Close();
  connection_.Close();
  PostFailure();
}

void WinInetDownloader::HandleRequestCompletion(HINTERNET handle) {
  switch (state_.load()) {
    case REQUEST_SENT:
      if (HandleInitialCompletion(handle))
        HandleCompletionInProgress(handle);
      break;
    case RECEIVING:
      HandleCompletionInProgress(handle);
      break;
    default:
      break;
  }
}

bool WinInetDownloader::HandleInitialCompletion(HINTERNET handle) {
  LOG(INFO) << "Initial request completion";
  DWORD status = 0;
  DWORD size = sizeof(status);
  if (!::HttpQueryInfoW(handle, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER,
                        &status, &size, nullptr)) {
    AppendError("Could not obtain HTTP response code", ::GetLastError());
    PostFailure();
    return false;
  }
  observer_->OnHttpStatus(static_cast<int>(status));
  for (const wchar_t* name : kRecordedHeaders)
    observer_->OnHeader(name, QueryHeader(handle, name));

  if (status == HTTP_STATUS_OK) {
    if (bytes_received_ > 0) {
      LOG(WARNING) << "Whole body sent in answer to a range request; "
                      "restarting";
      if (!RestartBody())
        return false;
    }
    DWORD content_length = 0;
    size = sizeof(content_length);
    if (::HttpQueryInfoW(handle,
                         HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER,
                         &content_length, &size, nullptr)) {
      expected_size_ = content_length;
      VLOG(1) << "Expected total size: " << expected_size_;
    } else {
      PLOG(WARNING) << "Could not get Content-Length from response";
    }
    PostTotalProgress(expected_size_);
  } else if (status == HTTP_STATUS_PARTIAL_CONTENT &&
             !AcceptPartialContent(handle)) {
    return false;
  }
  if (status == HTTP_STATUS_OK || status == HTTP_STATUS_PARTIAL_CONTENT) {
    // Accepting a response does not forgive earlier retries: a server that
    // answers and then drops every connection must still run out of them.
    state_ = RECEIVING;
    LOG(INFO) << "Downloader state: " << state_.load();
    return true;
  }
  if (status == HTTP_STATUS_PROXY_AUTH_REQ) {
    AskForProxyCredentials(handle);
    return false;
  }
  if (Contains(kGatewayStatuses, static_cast<int>(status))) {
    LOG(WARNING) << "Download failed with " << status << " error";
    PostRetry(static_cast<int>(status));
    return false;
  }
  AppendError(base::FormatString(
      "Request completed with an unexpected HTTP status %d",
      static_cast<int>(status)));
  PostFailure();
  return false;
}

bool WinInetDownloader::AcceptPartialContent(HINTERNET handle) {
  // Only a part that begins exactly at the bytes held continues the file:
  // appended anywhere else it corrupts it, and the download would still
  // complete once the count reached the expected size.
  ContentRange range;
  const bool labelled =
      ParseContentRange(QueryHeader(handle, L"Content-Range"), &range);
  const bool other_size =
      labelled && range.total >= 0 && expected_size_ > 0 &&
      range.total != expected_size_;
  if (labelled && range.first == bytes_received_ && !other_size) {
    if (expected_size_ == 0 && range.total >= 0) {
      expected_size_ = range.total;
      VLOG(1) << "Expected total size: " << expected_size_;
      PostTotalProgress(expected_size_);
    } else if (expected_size_ == 0) {
      QueryPartLength(handle);
    }
    return true;
  }
  if (labelled && range.first == 0) {
    // The part is the body from its first byte: as a whole answer would be.
    LOG(WARNING) << "Partial answer from the first byte to a range request; "
                    "restarting";
    if (!RestartBody())
      return false;
    if (range.total >= 0) {
      expected_size_ = range.total;
      PostTotalProgress(expected_size_);
    }
    return true;
  }
  LOG(WARNING) << "Partial answer not at the "
               << bytes_received_.load() << " bytes held ("
               << (labelled ? "starts at " + std::to_string(range.first)
                            : std::string("no Content-Range"))
               << "); asking for the whole body";
  RefetchWholeBody(HTTP_STATUS_PARTIAL_CONTENT);
  return false;
}

void WinInetDownloader::QueryPartLength(HINTERNET handle) {
  // The first attempt failed before any whole answer told the size: the
  // part's length does, or a short part would pass for the whole body.
  DWORD content_length = 0;
  DWORD size = sizeof(content_length);
  if (::HttpQueryInfoW(handle,
                       HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER,
                       &content_length, &size, nullptr)) {
    expected_size_ = bytes_received_ + content_length;
    VLOG(1) << "Expected total size: " << expected_size_;
    PostTotalProgress(expected_size_);
  }
}

void WinInetDownloader::RefetchWholeBody(int status) {
  if (bytes_received_ > 0 && !RestartBody())
    return;
  whole_body_wanted_ = true;
  PostRetry(status);
}

bool WinInetDownloader::RestartBody() {
  // The server ignored the range and sent the whole body again: appending
  // it would corrupt the file.
  bool restarted = false;
  {
    base::AutoLock hold(writer_lock_);
    restarted = !writer_finished_ && writer_->Restart();
  }
  if (!restarted) {
    PostFailure();
    return false;
  }
  bytes_received_ = 0;
  chunk_start_ = 0;
  PostCurrentProgress();
  return true;
}

void WinInetDownloader::AskForProxyCredentials(HINTERNET handle) {
  LOG(WARNING) << "Request completed with a "
                  "proxy authentication request";
  ui_delegate_->RunUICallbackAndPostReply(
      base::Bind<int(HWND)>(&ShowProxyCredentialsDialog, handle), task_runner_,
      base::BindWeak<void(int)>(&WinInetDownloader::OnProxyCredentials,
                                self_ref_, this, download_id_));
}

void WinInetDownloader::HandleCompletionInProgress(HINTERNET handle) {
  VLOG(2) << "Additional data downloaded";
  for (;;) {
    if (last_read_ > 0) {
      if (!WriteBlock(buffer_.get(), last_read_)) {
        PostFailure();
        return;
      }
      const int64_t total = bytes_received_ += last_read_;
      VLOG(2) << "Downloaded size: " << total;
      PostCurrentProgress();
    }
    last_read_ = 0;
    if (cancelled_->IsSet())
      return;
    if (!::InternetReadFile(handle, buffer_.get(), kReadBufferSize, &last_read_))
      break;
    if (last_read_ == 0) {
      VLOG(1) << "Done reading from Internet";
      if (bytes_received_ < expected_size_) {
        LOG(WARNING) << "Download completed, but we are below response size";
        PostRetry(ERROR_SUCCESS);
      } else {
        PostCompletion();
      }
      return;
    }
  }
  const DWORD error = ::GetLastError();
  if (error == ERROR_IO_PENDING) {
    VLOG(2) << "More data pending";
  } else if (Contains(kReadConnectivityErrors, error)) {
    LOG(ERROR) << "Download interrupted by loss of connectivity: " << error;
    PostRetry(static_cast<int>(error));
  } else {
    LOG(ERROR) << "Download interrupted for unknown reason: " << error;
    PostFailure();
  }
}

void WinInetDownloader::PostFailure() {
  task_runner_->PostTask(
      FROM_HERE, base::BindWeak(&WinInetDownloader::OnDownloadFailed, self_ref_,
                                this, download_id_));
}

void WinInetDownloader::PostCompletion() {
  task_runner_->PostTask(
      FROM_HERE, base::BindWeak(&WinInetDownloader::OnDownloadCompleted,
                                self_ref_, this, download_id_));
}

void WinInetDownloader::PostRetry(int code) {
  task_runner_->PostTask(
      FROM_HERE, base::BindWeak(&WinInetDownloader::CheckRetriesAndResume,
                                self_ref_, this, download_id_, code));
}

void WinInetDownloader::PostTotalProgress(int64_t total) {
  if (!delegate_)
    return;
  task_runner_->PostTask(
      FROM_HERE, base::BindWeak(&WinInetDownloader::OnTotalProgress, self_ref_,
                                this, download_id_, total));
}

void WinInetDownloader::PostCurrentProgress() {
  // One report in flight at a time, carrying the latest count when it runs:
  // a post per block would keep the owner's thread busy for nothing.
  if (!delegate_ || progress_posted_.exchange(true))
    return;
  task_runner_->PostTask(
      FROM_HERE, base::BindWeak(&WinInetDownloader::OnCurrentProgress,
                                self_ref_, this, download_id_));
}

void WinInetDownloader::OnTotalProgress(uint32_t download_id, int64_t total) {
  if (IsActive(download_id))
    delegate_->SetTotalProgress(static_cast<int>(total));
}

void WinInetDownloader::OnCurrentProgress(uint32_t download_id) {
  // Cleared before the count is read, so that a block counted after the read
  // posts a report of its own.
  progress_posted_ = false;
  if (IsActive(download_id))
    delegate_->SetCurrentProgress(static_cast<int>(bytes_received_.load()));
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
  request_.Close();
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
  last_read_ = 0;
  if (!OpenRequest(parts, range)) {
    LOG(ERROR) << "Could not resume downloading";
    OnDownloadFailed(download_id);
  }
}

void WinInetDownloader::OnProxyCredentials(uint32_t download_id, int result) {
  if (!IsActive(download_id))
    return;
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

void WinInetDownloader::OnDownloadCompleted(uint32_t download_id) {
  if (!IsActive(download_id))
    return;
  retry_count_ = 0;
  Terminate();
  LOG(INFO) << "Download completed";
  state_ = COMPLETED;
  // The callback may delete this downloader.
  base::Closure callback = std::move(completion_callback_);
  callback.Run();
}

void WinInetDownloader::OnDownloadFailed(uint32_t download_id) {
  if (!IsActive(download_id))
    return;
  LOG(ERROR) << "Download failed";
  Terminate();
  state_ = FAILED;
  base::Closure callback = std::move(completion_callback_);
  callback.Run();
}

bool WinInetDownloader::IsActive(uint32_t download_id) const {
  const int state = state_.load();
  return download_id == download_id_ &&
         (state == REQUEST_SENT || state == RECEIVING);
}

void WinInetDownloader::AppendError(const std::string& message,
                                    DWORD error) {
  base::AutoLock hold(error_lock_);
  // The thread's last error says nothing here: most callers report a code
  // they were given, and WinINet's texts are not in the system's table.
  if (error != ERROR_SUCCESS)
    LOG(ERROR) << message << ": " << WinInetErrorText(error);
  else
    LOG(ERROR) << message;
  errors_ += message + "\n";
}

bool WinInetDownloader::WriteBlock(const char* data, size_t count) {
  base::AutoLock hold(writer_lock_);
  // A finished writer may have let go of its target (a closed file, the
  // owner's string).
  return !writer_finished_ && writer_->Write(data, count);
}

void WinInetDownloader::FinishWriter() {
  base::AutoLock hold(writer_lock_);
  if (writer_finished_)
    return;
  writer_finished_ = true;
  writer_->Finish();
}

void WinInetDownloader::Terminate() {
  // Nothing is left of a session that was already terminated.
  if (!session_.IsValid())
    return;
  VLOG(1) << "Closing download session";
  observer_->OnChunkEnd(static_cast<int>(bytes_received_.load()));
  cancelled_->Set();
  FinishWriter();
  request_.Close();
  connection_.Close();
  JoinTerminationThread();
  if (!made_handles_) {
    ::InternetSetStatusCallbackW(session_.Get(), nullptr);
    session_.Close();
    return;
  }
  // WinINet may still call back for the handles just closed; the session
  // goes once it has reported them all closed.
  termination_thread_ = std::make_unique<WinInetTerminationThread>(
      session_.Take(), handles_closed_.Get());
  if (!termination_thread_->Start()) {
    LOG(ERROR) << "Could not start the WinINet termination thread";
    ::WaitForSingleObject(handles_closed_.Get(), INFINITE);
    termination_thread_.reset();
  }
}

void WinInetDownloader::JoinTerminationThread() {
  if (!termination_thread_)
    return;
  VLOG(1) << "Waiting for previous WinINET invocation to terminate.";
  termination_thread_->Join();
  termination_thread_.reset();
}

}  // namespace installer
