// What WinINet reports for a download, on its threads: the status notices,
// the response's status, headers and range, and the body's blocks handed to
// the writer. Whatever needs the owner thread is posted there.

#include <algorithm>
#include <cstring>
#include <iterator>
#include <string>

#include "base/bind.h"
#include "base/logging.h"
#include "base/strings/string_format.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/windows/installer/wininet/content_range.h"
#include "desktop/windows/installer/wininet/download_observer.h"
#include "desktop/windows/installer/wininet/redirect_target.h"
#include "desktop/windows/installer/wininet/response_writer.h"
#include "desktop/windows/installer/wininet/wininet_downloader.h"
#include "desktop/windows/installer/wininet/wininet_error_text.h"
#include "desktop/windows/installer/wininet/wininet_handle_context.h"

namespace installer {

namespace {

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

int ShowProxyCredentialsDialog(HINTERNET request, HWND window) {
  return static_cast<int>(::InternetErrorDlg(
      window, request, ERROR_INTERNET_INCORRECT_PASSWORD,
      FLAGS_ERROR_UI_FILTER_FOR_ERRORS | FLAGS_ERROR_UI_FLAGS_CHANGE_OPTIONS |
          FLAGS_ERROR_UI_FLAGS_GENERATE_DATA,
      nullptr));
}

}  // namespace

void WinInetDownloader::OnStatus(WinInetHandleContext* context,
                                 HINTERNET handle,
                                 DWORD status,
                                 void* information,
                                 DWORD information_length) {
  VLOG(2) << "InternatStatusCallback called with code " << status;
  // Only the current request's notices come here: any of them, a read's
  // completion or bytes arriving, shows that the server is still there.
  NoteActivity();
  if (cancelled_->IsSet()) {
    VLOG(1) << "Wininet request cancelled. unregistering the callback.";
    return;
  }
  switch (status) {
    case INTERNET_STATUS_CONNECTING_TO_SERVER:
      request_socket_.OnConnecting();
      break;
    case INTERNET_STATUS_CONNECTED_TO_SERVER:
      if (information) {
        const char* address = static_cast<const char*>(information);
        request_socket_.OnConnected(
            std::string(address, strnlen(address, information_length)));
        observer_->OnConnected(address);
      }
      break;
    case INTERNET_STATUS_REQUEST_COMPLETE: {
      // dwError means something only when the call failed: a completed
      // query for data carries the byte count there.
      const auto* result = static_cast<INTERNET_ASYNC_RESULT*>(information);
      OnRequestComplete(context, handle,
                        result->dwResult ? ERROR_SUCCESS : result->dwError);
      break;
    }
    default:
      break;
  }
}

void WinInetDownloader::OnRequestComplete(WinInetHandleContext* context,
                                          HINTERNET handle,
                                          DWORD error) {
  observer_->OnWinInetError(static_cast<int>(error));
  if (error == WSAESHUTDOWN && state_ == REQUEST_SENT) {
    // WinINet kept a connection this downloader shut down for reuse and
    // gave it to this request: it drops it now, and the request goes again.
    LOG(WARNING) << "Request sent on a connection given up; sending it again";
    PostResend();
  } else if (error == ERROR_SUCCESS) {
    VLOG(2) << "Handling request completion";
    HandleRequestCompletion(context, handle);
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

void WinInetDownloader::HandleRequestCompletion(WinInetHandleContext* context,
                                                HINTERNET handle) {
  switch (state_.load()) {
    case REQUEST_SENT:
      if (HandleInitialCompletion(handle))
        HandleCompletionInProgress(context, handle);
      break;
    case RECEIVING:
      HandleCompletionInProgress(context, handle);
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
  // A hop is no answer of its own to the observer: the chunk records the
  // answer at the end of the redirects, as it would without them.
  if (IsRedirectStatus(static_cast<int>(status))) {
    const std::wstring location = QueryHeader(handle, L"Location");
    if (!location.empty()) {
      PostRedirect(static_cast<int>(status), location);
      return false;
    }
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
  if ((status == HTTP_STATUS_OK || status == HTTP_STATUS_PARTIAL_CONTENT) &&
      !FitsSizeLimit(expected_size_)) {
    PostFailure();
    return false;
  }
  if (status == HTTP_STATUS_OK || status == HTTP_STATUS_PARTIAL_CONTENT) {
    // Accepting a response does not forgive earlier retries: a server that
    // answers and then drops every connection must still run out of them.
    StartProgressWindow();
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

bool WinInetDownloader::FitsSizeLimit(int64_t size) {
  int64_t limit = 0;
  {
    base::AutoLock hold(writer_lock_);
    if (writer_finished_)
      return true;
    limit = writer_->size_limit();
  }
  // A declared size past the limit fails before any of the body comes.
  if (size <= limit)
    return true;
  AppendError(base::FormatString(
      "Response of %lld bytes is larger than the limit of %lld bytes",
      static_cast<long long>(size), static_cast<long long>(limit)));
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
  // The user, not the server, keeps the download waiting now.
  awaiting_credentials_ = true;
  ui_delegate_->RunUICallbackAndPostReply(
      base::Bind<int(HWND)>(&ShowProxyCredentialsDialog, handle), task_runner_,
      base::BindWeak<void(int)>(&WinInetDownloader::OnProxyCredentials,
                                self_ref_, this, request_id_.load()));
}

void WinInetDownloader::HandleCompletionInProgress(
    WinInetHandleContext* context,
    HINTERNET handle) {
  VLOG(2) << "Additional data downloaded";
  DWORD* last_read = context->last_read();
  for (;;) {
    if (*last_read > 0) {
      if (!WriteBlock(context->buffer(), *last_read)) {
        PostFailure();
        return;
      }
      bytes_read_ += *last_read;
      const int64_t total = bytes_received_ += *last_read;
      VLOG(2) << "Downloaded size: " << total;
      PostCurrentProgress();
    }
    *last_read = 0;
    if (cancelled_->IsSet())
      return;
    // A read completes only once its whole buffer is filled (under Wine),
    // so a read waiting on a slow or silent server shows no progress and
    // holds bytes unseen. Asking what has arrived first completes with
    // every arrival, and the read then takes it without waiting.
    DWORD available = 0;
    if (!::InternetQueryDataAvailable(handle, &available, 0, 0))
      break;
    const DWORD size = static_cast<DWORD>(context->buffer_size());
    if (!::InternetReadFile(handle, context->buffer(),
                            available ? std::min(available, size) : size,
                            last_read)) {
      break;
    }
    if (*last_read == 0) {
      VLOG(1) << "Done reading from Internet";
      // WinINet keeps the connection for another request, whose socket this
      // downloader would not know: an answer on it could not be ended
      // early, a head without end among them.
      request_socket_.ShutDown();
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

}  // namespace installer
