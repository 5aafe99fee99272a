#include "desktop/windows/installer/wininet/wininet_downloader.h"

#include <string>
#include <utility>

#include "base/bind.h"
#include "base/current_task_runner_handle.h"
#include "base/location.h"
#include "base/logging.h"
#include "base/strings/string_format.h"
#include "base/strings/utf_string_conversions.h"
#include "base/time/time_delta.h"
#include "desktop/windows/installer/product/installer_version.h"
#include "desktop/windows/installer/wininet/download_observer.h"
#include "desktop/windows/installer/wininet/redirect_target.h"
#include "desktop/windows/installer/wininet/response_writer.h"
#include "desktop/windows/installer/wininet/url_parts.h"
#include "desktop/windows/installer/wininet/wininet_error_text.h"
#include "desktop/windows/installer/wininet/wininet_handle_context.h"
#include "desktop/windows/installer/wininet/wininet_open_handles.h"
#include "desktop/windows/installer/wininet/wininet_termination_thread.h"

namespace installer {

namespace {

// Each read costs WinINet a fixed overhead (two status notices among it), so
// small blocks cap the rate far below the link's: 1 KiB blocks reach some
// 16 MB/s over loopback under Wine, 1 MiB blocks over 1 GB/s. The buffer is
// still fixed, so memory does not grow with the download.
constexpr DWORD kReadBufferSize = 1024 * 1024;

// Without a limit a server that keeps the connection open and sends nothing
// holds a download for ever: WinINet's reads never time out by themselves,
// and Wine's asynchronous reads ignore the receive time-out too.
constexpr base::TimeDelta kDefaultTimeout = base::TimeDelta::FromSeconds(60);

// How long the end of a download waits for WinINet to report its handles
// closed. Wine never does for a read stuck on a silent connection, and the
// contexts stay valid for whatever it reports later.
constexpr base::TimeDelta kHandlesClosedLimit = base::TimeDelta::FromSeconds(3);

// Redirects one request may follow: a loop of them never ends by itself.
// They are followed here, not by WinINet, which sets no limit of its own
// (Wine's follows a loop for ever, even after the request is closed).
constexpr int kMaxRedirects = 10;

constexpr DWORD kTimeoutOptions[] = {INTERNET_OPTION_CONNECT_TIMEOUT,
                                     INTERNET_OPTION_SEND_TIMEOUT,
                                     INTERNET_OPTION_RECEIVE_TIMEOUT};

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

// An address ("127.0.0.1") or a single label ("localhost") names one host:
// "evil.127.0.0.1" is a name anyone may register, not a host inside it.
bool NamesOneHost(const std::wstring& entry) {
  if (entry.find(L'.') == std::wstring::npos)
    return true;
  return entry.find_first_not_of(L"0123456789.") == std::wstring::npos;
}

}  // namespace

WinInetDownloader::WinInetDownloader(UIDelegate* ui_delegate,
                                     ProgressDelegate* delegate)
    : ui_delegate_(ui_delegate),
      delegate_(delegate),
      cancelled_(std::make_unique<base::AtomicFlag>()),
      timeout_(kDefaultTimeout),
      self_ref_(weak_source_.GetRef()) {
  CHECK(ui_delegate_);
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
  TakeOver(url, std::move(completion_callback), std::move(writer),
           std::move(observer));
  UrlParts parts;
  if (!CheckUrl(url, &parts)) {
    state_ = FAILED;
    return false;
  }
  ResetProgress();
  body_ = body;
  if (!OpenSession()) {
    state_ = FAILED;
    return false;
  }
  if (!OpenConnection(parts)) {
    Terminate();
    state_ = FAILED;
    return false;
  }
  observer_->OnChunkStart(0);
  if (!BeginRequest(parts, std::wstring())) {
    LOG(ERROR) << "Could not send Request";
    Terminate();
    state_ = FAILED;
    return false;
  }
  return true;
}

void WinInetDownloader::TakeOver(const std::wstring& url,
                                 base::Closure completion_callback,
                                 std::unique_ptr<ResponseWriter> writer,
                                 std::unique_ptr<DownloadObserver> observer) {
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
  write_error_ = 0;
  observer_ = std::move(observer);
  completion_callback_ = std::move(completion_callback);
  task_runner_ = base::CurrentTaskRunnerHandle::Get();
  url_ = url;
  ++request_id_;
  state_ = IDLE;
}

bool WinInetDownloader::CheckUrl(const std::wstring& url, UrlParts* parts) {
  if (!CrackUrl(url, parts)) {
    AppendError(base::FormatString("Could not parse URL %s",
                                   base::WideToUtf8(url).c_str()));
    return false;
  }
  if (!IsDomainAllowed(allowed_host_suffixes_, parts->host)) {
    AppendError(base::FormatString("Domain disallowed %s",
                                   base::WideToUtf8(parts->host).c_str()));
    return false;
  }
  return true;
}

void WinInetDownloader::ResetProgress() {
  started_at_ = base::TickTime::Now();
  bytes_read_ = 0;
  expected_size_ = 0;
  bytes_received_ = 0;
  chunk_start_ = 0;
  retry_count_ = 0;
  retries_without_data_ = 0;
  progress_posted_ = false;
  whole_body_wanted_ = false;
}

bool WinInetDownloader::OpenSession() {
  const std::wstring user_agent = UserAgent();
  session_.Set(::InternetOpenW(user_agent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG,
                               nullptr, nullptr, INTERNET_FLAG_ASYNC));
  if (!session_.IsValid()) {
    AppendError(base::FormatString("InternetOpen failed for %s",
                                   base::WideToUtf8(user_agent).c_str()),
                ::GetLastError());
    return false;
  }
  SetTimeouts(session_.Get(), timeout_);
  ::InternetSetStatusCallbackW(session_.Get(),
                               &WinInetHandleContext::StatusCallback);
  cancelled_ = std::make_unique<base::AtomicFlag>();
  made_handles_ = false;
  open_handles_ = base::MakeRefCounted<WinInetOpenHandles>();
  return true;
}

bool WinInetDownloader::OpenConnection(const UrlParts& parts) {
  // Whatever the connection given up still reports goes nowhere.
  if (connection_context_)
    connection_context_->Detach();
  connection_.Close();
  connection_context_ =
      base::MakeRefCounted<WinInetHandleContext>(this, open_handles_, 0);
  connection_.Set(::InternetConnectW(
      session_.Get(), parts.host.c_str(), static_cast<INTERNET_PORT>(parts.port),
      nullptr, nullptr, INTERNET_SERVICE_HTTP, 0,
      reinterpret_cast<DWORD_PTR>(connection_context_.get())));
  if (!connection_.IsValid()) {
    AppendError(base::FormatString("InternetConnect failed for %s:%d",
                                   base::WideToUtf8(parts.host).c_str(),
                                   parts.port),
                ::GetLastError());
    return false;
  }
  made_handles_ = true;
  connection_context_->OnHandleMade();
  connected_to_ = parts;
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
    if (NamesOneHost(entry))
      continue;
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

bool WinInetDownloader::BeginRequest(const UrlParts& parts,
                                     const std::wstring& extra_headers) {
  attempt_started_ = base::TickTime::Now();
  resends_ = 0;
  request_url_ = url_;
  request_headers_ = extra_headers;
  request_post_ = !body_.empty();
  redirects_ = 0;
  return SendRequest(parts);
}

bool WinInetDownloader::SendRequest(const UrlParts& parts) {
  const bool connected = connection_.IsValid() &&
                         connected_to_.scheme == parts.scheme &&
                         connected_to_.host == parts.host &&
                         connected_to_.port == parts.port;
  return (connected || OpenConnection(parts)) && OpenRequest(parts);
}

void WinInetDownloader::FollowRedirect(uint32_t request_id,
                                       int status,
                                       const std::wstring& location) {
  if (!IsActive(request_id))
    return;
  VLOG(1) << "Redirect occured";
  RedirectTarget target;
  std::string refusal;
  const bool allowed = ResolveRedirect(request_url_, location,
                                       allowed_host_suffixes_, &target,
                                       &refusal);
  observer_->OnRedirect(target.url.empty() ? location : target.url);
  if (++redirects_ > kMaxRedirects) {
    AppendError(base::FormatString(
        "Too many redirects (more than %d), last to %s", kMaxRedirects,
        base::WideToUtf8(target.url.empty() ? location : target.url).c_str()));
    OnDownloadFailed(request_id);
    return;
  }
  if (!allowed) {
    AppendError(refusal);
    OnDownloadFailed(request_id);
    return;
  }
  CloseRequest();
  request_url_ = target.url;
  if (!RedirectKeepsPost(status))
    request_post_ = false;
  if (!SendRequest(target.parts)) {
    LOG(ERROR) << "Could not follow the redirect";
    OnDownloadFailed(request_id_);
  }
}

bool WinInetDownloader::OpenRequest(const UrlParts& parts) {
  VLOG(1) << "Opening internet request";
  const bool is_post = request_post_;
  // Not kept in WinINet's cache: a package would be written to disk twice,
  // which halves the rate of a download to a file. Redirects are followed
  // here, counted and checked (FollowRedirect).
  DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                INTERNET_FLAG_NO_AUTO_REDIRECT;
  if (parts.scheme == INTERNET_SCHEME_HTTPS)
    flags |= INTERNET_FLAG_SECURE;
  // Before its first callback can post anything.
  ++request_id_;
  // Each request reads into a buffer of its own: a read of a request given
  // up may still complete into it.
  base::RefPtr<WinInetHandleContext> context =
      base::MakeRefCounted<WinInetHandleContext>(this, open_handles_,
                                                 kReadBufferSize);
  HINTERNET request = ::HttpOpenRequestW(
      connection_.Get(), is_post ? L"POST" : L"GET", parts.path.c_str(),
      L"HTTP/1.1", nullptr, nullptr, flags,
      reinterpret_cast<DWORD_PTR>(context.get()));
  if (!request) {
    const DWORD error = ::GetLastError();
    AppendError(base::FormatString(
        "HttpOpenRequest failed for %s:%d%s, scheme %d, payload empty %d",
        base::WideToUtf8(parts.host).c_str(), parts.port,
        base::WideToUtf8(parts.path).c_str(), parts.scheme, is_post ? 0 : 1),
        error);
    return false;
  }
  context->OnHandleMade();
  request_context_ = std::move(context);
  request_.Set(request);

  VLOG(1) << (is_post ? "Sending POST request" : "Sending GET request");
  // Before sending: the request's completion may arrive on a WinINet thread
  // before HttpSendRequestW returns, and must find the request sent.
  state_ = REQUEST_SENT;
  WatchForSilence(request_id_.load());
  if (::HttpSendRequestW(
          request,
          request_headers_.empty() ? nullptr : request_headers_.c_str(),
          static_cast<DWORD>(request_headers_.size()),
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

void WinInetDownloader::PostFailure() {
  task_runner_->PostTask(
      FROM_HERE, base::BindWeak(&WinInetDownloader::OnDownloadFailed, self_ref_,
                                this, request_id_.load()));
}

void WinInetDownloader::PostCompletion() {
  task_runner_->PostTask(
      FROM_HERE, base::BindWeak(&WinInetDownloader::OnDownloadCompleted,
                                self_ref_, this, request_id_.load()));
}

void WinInetDownloader::PostRetry(int code) {
  task_runner_->PostTask(
      FROM_HERE, base::BindWeak(&WinInetDownloader::CheckRetriesAndResume,
                                self_ref_, this, request_id_.load(), code));
}

void WinInetDownloader::PostResend() {
  task_runner_->PostTask(
      FROM_HERE, base::BindWeak(&WinInetDownloader::ResendRequest, self_ref_,
                                this, request_id_.load()));
}

void WinInetDownloader::PostRedirect(int status, const std::wstring& location) {
  task_runner_->PostTask(
      FROM_HERE, base::BindWeak(&WinInetDownloader::FollowRedirect, self_ref_,
                                this, request_id_.load(), status, location));
}

void WinInetDownloader::PostTotalProgress(int64_t total) {
  if (!delegate_)
    return;
  task_runner_->PostTask(
      FROM_HERE, base::BindWeak(&WinInetDownloader::OnTotalProgress, self_ref_,
                                this, request_id_.load(), total));
}

void WinInetDownloader::PostCurrentProgress() {
  // One report in flight at a time, carrying the latest count when it runs:
  // a post per block would keep the owner's thread busy for nothing.
  if (!delegate_ || progress_posted_.exchange(true))
    return;
  task_runner_->PostTask(
      FROM_HERE, base::BindWeak(&WinInetDownloader::OnCurrentProgress,
                                self_ref_, this, request_id_.load()));
}

void WinInetDownloader::OnTotalProgress(uint32_t request_id, int64_t total) {
  if (IsActive(request_id))
    delegate_->SetTotalProgress(static_cast<int>(total));
}

void WinInetDownloader::OnCurrentProgress(uint32_t request_id) {
  // Cleared before the count is read, so that a block counted after the read
  // posts a report of its own.
  progress_posted_ = false;
  if (IsActive(request_id))
    delegate_->SetCurrentProgress(static_cast<int>(bytes_received_.load()));
}

void WinInetDownloader::OnDownloadCompleted(uint32_t request_id) {
  if (!IsActive(request_id))
    return;
  retry_count_ = 0;
  Terminate();
  LOG(INFO) << "Download completed";
  state_ = COMPLETED;
  // The callback may delete this downloader.
  base::Closure callback = std::move(completion_callback_);
  callback.Run();
}

void WinInetDownloader::OnDownloadFailed(uint32_t request_id) {
  if (!IsActive(request_id))
    return;
  LOG(ERROR) << "Download failed";
  Terminate();
  state_ = FAILED;
  base::Closure callback = std::move(completion_callback_);
  callback.Run();
}

bool WinInetDownloader::IsActive(uint32_t request_id) const {
  const int state = state_.load();
  return request_id == request_id_ &&
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
  if (writer_finished_)
    return false;
  if (writer_->Write(data, count))
    return true;
  if (writer_->exceeded_size_limit()) {
    AppendError(base::FormatString("Response larger than the limit of %lld bytes",
                                   static_cast<long long>(writer_->size_limit())));
  }
  write_error_ = writer_->write_error();
  return false;
}

void WinInetDownloader::FinishWriter() {
  base::AutoLock hold(writer_lock_);
  if (writer_finished_)
    return;
  writer_finished_ = true;
  writer_->Finish();
}

void WinInetDownloader::CloseRequest() {
  silence_timer_.Stop();
  // Unless its body was read to the end, WinINet would go on reading the
  // request after the close, or in it.
  request_socket_.ShutDown();
  // Detached before the close: whatever the request still reports, a read
  // completing late on a connection given up above all, must not reach this
  // download.
  if (request_context_) {
    request_context_->Detach();
    request_context_ = nullptr;
  }
  // Once detached, no callback of the request runs any more; what one
  // posted until then, a retry of a read the shutdown just ended above all,
  // is still queued and must find its request gone.
  ++request_id_;
  request_.Close();
}

void WinInetDownloader::Terminate() {
  // Nothing is left of a session that was already terminated.
  if (!session_.IsValid())
    return;
  VLOG(1) << "Closing download session";
  observer_->OnChunkEnd(static_cast<int>(bytes_received_.load()));
  cancelled_->Set();
  CloseRequest();
  if (connection_context_) {
    connection_context_->Detach();
    connection_context_ = nullptr;
  }
  FinishWriter();
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
      session_.Take(), open_handles_, kHandlesClosedLimit);
  if (!termination_thread_->Start()) {
    LOG(ERROR) << "Could not start the WinINet termination thread";
    if (!open_handles_->WaitUntilAllClosed(kHandlesClosedLimit))
      LOG(WARNING) << "WinINet did not report every handle closed";
    // Destroying the thread object closes the session.
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
