#include "util/net/http_transport_win.h"

#include <windows.h>

#include <winhttp.h>

#include <cstdint>
#include <limits>
#include <string>

#include "base/logging.h"
#include "base/strings/string_format.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/scoped_local_alloc.h"
#include "util/net/http_chunk_framing.h"

namespace util {

namespace {

constexpr wchar_t kUserAgent[] = L"CrashTransport/0.8.0";
constexpr size_t kBodyPieceSize = 32768;
constexpr size_t kResponsePieceSize = 4096;
constexpr int kHttpOk = 200;

// "Call: text (0xcode)", with WinHTTP's own messages before the system's.
void LogCallFailure(const char* call) {
  const DWORD error = ::GetLastError();
  base::win::ScopedLocalAlloc<wchar_t> text;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_HMODULE |
          FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      ::GetModuleHandleW(L"winhttp.dll"), error, 0,
      reinterpret_cast<wchar_t*>(text.Receive()), 0, nullptr);
  if (length == 0) {
    LOG(ERROR) << base::FormatString("%s: error 0x%lx while retrieving error 0x%lx",
                                     call, ::GetLastError(), error);
    return;
  }
  std::wstring message(text.Get(), length);
  while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r'))
    message.pop_back();
  LOG(ERROR) << base::FormatString("%s: %s (0x%lx)", call,
                                   base::WideToUtf8(message).c_str(), error);
}

// Owns a WinHTTP handle; a close that fails is logged.
class ScopedWinHttpHandle {
 public:
  explicit ScopedWinHttpHandle(HINTERNET handle) : handle_(handle) {}
  ScopedWinHttpHandle(const ScopedWinHttpHandle&) = delete;
  ScopedWinHttpHandle& operator=(const ScopedWinHttpHandle&) = delete;
  ~ScopedWinHttpHandle() {
    if (handle_ && !::WinHttpCloseHandle(handle_))
      LogCallFailure("WinHttpCloseHandle");
  }

  HINTERNET get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }

 private:
  HINTERNET handle_;
};

struct CrackedUrl {
  std::wstring host;
  INTERNET_PORT port = 0;
  std::wstring path_and_query;
  bool secure = false;
};

bool CrackUrl(const std::wstring& url, CrackedUrl* cracked) {
  URL_COMPONENTS components = {};
  components.dwStructSize = sizeof(components);
  // Lengths of -1 ask for pointers into `url` rather than copies.
  components.dwSchemeLength = static_cast<DWORD>(-1);
  components.dwHostNameLength = static_cast<DWORD>(-1);
  components.dwUrlPathLength = static_cast<DWORD>(-1);
  components.dwExtraInfoLength = static_cast<DWORD>(-1);
  if (!::WinHttpCrackUrl(url.c_str(), static_cast<DWORD>(url.size()), 0,
                         &components)) {
    LogCallFailure("WinHttpCrackUrl");
    return false;
  }
  cracked->host.assign(components.lpszHostName, components.dwHostNameLength);
  cracked->port = components.nPort;
  if (components.lpszUrlPath)
    cracked->path_and_query.assign(components.lpszUrlPath,
                                   components.dwUrlPathLength);
  if (components.lpszExtraInfo)
    cracked->path_and_query.append(components.lpszExtraInfo,
                                   components.dwExtraInfoLength);
  cracked->secure = components.nScheme == INTERNET_SCHEME_HTTPS;
  return true;
}

// A valid "Content-Length" gives the body's length, which WinHTTP takes in
// 32 bits; anything else leaves the body to go in chunks.
bool ParseContentLength(const std::string& value, DWORD* length) {
  uint64_t parsed = 0;
  if (!base::StringToUint64(value, &parsed) ||
      parsed > std::numeric_limits<DWORD>::max()) {
    return false;
  }
  *length = static_cast<DWORD>(parsed);
  return true;
}

bool WriteData(HINTERNET request, const char* data, size_t size) {
  DWORD written = 0;
  if (!::WinHttpWriteData(request, data, static_cast<DWORD>(size), &written)) {
    LogCallFailure("WinHttpWriteData");
    return false;
  }
  return true;
}

// With a known length, a body that ends early or runs over is refused here:
// the server would otherwise wait for the rest, or take a cut body as whole.
bool SendBody(HINTERNET request,
              HttpBodyStream* body,
              bool chunked,
              uint64_t total_length) {
  if (!body)
    return chunked ? WriteData(request, "0\r\n\r\n", 5) : total_length == 0;
  char buffer[kBodyPieceSize];
  uint64_t sent = 0;
  for (;;) {
    const int64_t count = body->GetBytesBuffer(buffer, sizeof(buffer));
    if (count < 0)
      return false;
    sent += static_cast<uint64_t>(count);
    if (chunked) {
      const std::string chunk = FrameHttpChunk(buffer, static_cast<size_t>(count));
      if (!WriteData(request, chunk.data(), chunk.size()))
        return false;
    } else if (sent > total_length || (count == 0 && sent != total_length)) {
      LOG(ERROR) << "Body does not match its Content-Length of " << total_length;
      return false;
    } else if (count > 0 && !WriteData(request, buffer, static_cast<size_t>(count))) {
      return false;
    }
    if (count == 0)
      return true;
  }
}

bool ReadResponse(HINTERNET request, std::string* response_body) {
  response_body->clear();
  char buffer[kResponsePieceSize];
  for (;;) {
    DWORD read = 0;
    if (!::WinHttpReadData(request, buffer, sizeof(buffer), &read)) {
      LogCallFailure("WinHttpReadData");
      return false;
    }
    if (read == 0)
      return true;
    response_body->append(buffer, read);
  }
}

}  // namespace

HttpTransportWin::HttpTransportWin() = default;

HttpTransportWin::~HttpTransportWin() = default;

bool HttpTransportWin::ExecuteSynchronously(std::string* response_body) {
  ScopedWinHttpHandle session(::WinHttpOpen(
      kUserAgent, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
      WINHTTP_NO_PROXY_BYPASS, 0));
  if (!session) {
    LogCallFailure("WinHttpOpen");
    return false;
  }
  const int timeout_ms = static_cast<int>(timeout() * 1000);
  if (!::WinHttpSetTimeouts(session.get(), timeout_ms, timeout_ms, timeout_ms,
                            timeout_ms)) {
    LogCallFailure("WinHttpSetTimeouts");
    return false;
  }

  CrackedUrl url;
  if (!CrackUrl(base::Utf8ToWide(this->url()), &url))
    return false;
  ScopedWinHttpHandle connection(
      ::WinHttpConnect(session.get(), url.host.c_str(), url.port, 0));
  if (!connection) {
    LogCallFailure("WinHttpConnect");
    return false;
  }
  ScopedWinHttpHandle request(::WinHttpOpenRequest(
      connection.get(), base::Utf8ToWide(method()).c_str(),
      url.path_and_query.c_str(), nullptr, WINHTTP_NO_REFERER,
      WINHTTP_DEFAULT_ACCEPT_TYPES, url.secure ? WINHTTP_FLAG_SECURE : 0));
  if (!request) {
    LogCallFailure("WinHttpOpenRequest");
    return false;
  }

  DWORD total_length = 0;
  bool chunked = true;
  std::string header_lines;
  for (const auto& [name, value] : headers()) {
    if (base::EqualsCaseInsensitiveAscii(name, "Content-Length")) {
      if (ParseContentLength(value, &total_length))
        chunked = false;
      continue;
    }
    header_lines += name + ": " + value + "\r\n";
  }
  if (chunked)
    header_lines += "Transfer-Encoding: chunked\r\n";
  const std::wstring wide_headers = base::Utf8ToWide(header_lines);
  if (!::WinHttpAddRequestHeaders(request.get(), wide_headers.c_str(),
                                  static_cast<DWORD>(wide_headers.size()),
                                  WINHTTP_ADDREQ_FLAG_ADD)) {
    LogCallFailure("WinHttpAddRequestHeaders");
    return false;
  }

  if (!::WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                            WINHTTP_NO_REQUEST_DATA, 0,
                            chunked ? 0 : total_length, 0)) {
    LogCallFailure("WinHttpSendRequest");
    return false;
  }
  if (!SendBody(request.get(), body_stream(), chunked, total_length))
    return false;
  if (!::WinHttpReceiveResponse(request.get(), nullptr)) {
    LogCallFailure("WinHttpReceiveResponse");
    return false;
  }

  DWORD status = 0;
  DWORD status_size = sizeof(status);
  if (!::WinHttpQueryHeaders(request.get(),
                             WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &status_size,
                             WINHTTP_NO_HEADER_INDEX)) {
    LogCallFailure("WinHttpQueryHeaders");
    return false;
  }
  if (status != kHttpOk) {
    LOG(ERROR) << base::FormatString("HTTP status %d", static_cast<int>(status));
    return false;
  }
  return !response_body || ReadResponse(request.get(), response_body);
}

}  // namespace util
