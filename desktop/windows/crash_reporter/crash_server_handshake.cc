#include "desktop/windows/crash_reporter/crash_server_handshake.h"

#include <windows.h>

#include <wininet.h>

#include <vector>

#include "base/logging.h"
#include "desktop/windows/crash_reporter/crash_server_urls.h"
#include "util/net/http_url_parts.h"
#include "util/net/scoped_wininet_handle.h"

namespace installer {

namespace {

constexpr wchar_t kUserAgent[] = L"CrashUploader/1.0 (Windows)";
constexpr wchar_t kCrashUrlHeader[] = L"X-Tarvo-Crash-URL";
constexpr wchar_t kOriginHeader[] = L"X-Origin";
constexpr wchar_t kReportIdStart[] = L"?id=";

bool AddHeaderIfNotEmpty(HINTERNET request,
                         const wchar_t* name,
                         const std::wstring& value) {
  const std::wstring clean = StripLineBreaks(value);
  if (clean.empty())
    return true;
  const std::wstring header = std::wstring(name) + L": " + clean + L"\r\n";
  if (!::HttpAddRequestHeadersW(request, header.c_str(),
                                static_cast<DWORD>(header.size()),
                                HTTP_ADDREQ_FLAG_ADD_IF_NEW)) {
    PLOG(ERROR) << "HttpAddRequestHeaders";
    return false;
  }
  return true;
}

void SetTimeout(HINTERNET request, int timeout_ms) {
  DWORD value = static_cast<DWORD>(timeout_ms);
  if (!::InternetSetOptionW(request, INTERNET_OPTION_CONNECT_TIMEOUT, &value,
                            sizeof(value)) ||
      !::InternetSetOptionW(request, INTERNET_OPTION_SEND_TIMEOUT, &value,
                            sizeof(value))) {
    PLOG(WARNING) << "InternetSetOption";
  }
}

std::wstring QueryStatus(HINTERNET request) {
  wchar_t status[4] = {};
  DWORD size = sizeof(status) - sizeof(wchar_t);
  if (!::HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE, status, &size, nullptr))
    return std::wstring();
  return status;
}

bool QueryLocation(HINTERNET request, std::wstring* location) {
  std::vector<wchar_t> buffer(256);
  for (int attempt = 0; attempt < 2; ++attempt) {
    DWORD size = static_cast<DWORD>((buffer.size() - 1) * sizeof(wchar_t));
    if (::HttpQueryInfoW(request, HTTP_QUERY_LOCATION, buffer.data(), &size,
                         nullptr)) {
      location->assign(buffer.data(), size / sizeof(wchar_t));
      return true;
    }
    if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER)
      return false;
    buffer.assign(size / sizeof(wchar_t) + 2, L'\0');
  }
  return false;
}

CrashServerHandshakeResult ReadAcceptance(HINTERNET request,
                                          std::wstring* report_id,
                                          std::wstring* location) {
  std::wstring value;
  if (!QueryLocation(request, &value))
    return kCrashServerHandshakeFailed;
  const size_t id_start = value.find(kReportIdStart);
  if (id_start == std::wstring::npos)
    return kCrashServerHandshakeFailed;
  const size_t id_begin = id_start + wcslen(kReportIdStart);
  const size_t id_end = value.find(L'&', id_begin);
  if (id_end == std::wstring::npos)
    return kCrashServerHandshakeFailed;
  *report_id = value.substr(id_begin, id_end - id_begin);
  *location = value;
  return kCrashServerAccepted;
}

}  // namespace

std::wstring StripLineBreaks(const std::wstring& value) {
  std::wstring clean;
  for (wchar_t c : value) {
    if (c != L'\r' && c != L'\n')
      clean += c;
  }
  return clean;
}

CrashServerHandshakeResult CrashServerHandshake(const std::wstring& crash_url,
                                                const std::wstring& origin,
                                                std::wstring* report_id,
                                                std::wstring* location,
                                                int timeout_ms) {
  util::HttpUrlParts parts;
  if (!util::CrackHttpUrl(GetCrashServerUrl(), &parts))
    return kCrashServerHandshakeFailed;

  const std::wstring user_agent = kUserAgent + GetUploadUserAgentSuffix();
  util::ScopedWinInetHandle session(::InternetOpenW(
      user_agent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  if (!session)
    return kCrashServerHandshakeFailed;
  util::ScopedWinInetHandle connection(::InternetConnectW(
      session.get(), parts.host.c_str(), parts.port, nullptr, nullptr,
      INTERNET_SERVICE_HTTP, 0, 0));
  if (!connection)
    return kCrashServerHandshakeFailed;
  // The 303 is the answer itself: following it would fetch the report page.
  const DWORD flags = INTERNET_FLAG_NO_AUTO_REDIRECT | INTERNET_FLAG_NO_COOKIES |
                      (parts.secure ? INTERNET_FLAG_SECURE : 0);
  util::ScopedWinInetHandle request(::HttpOpenRequestW(connection.get(), L"GET",
                                             parts.path.c_str(), nullptr,
                                             nullptr, nullptr, flags, 0));
  if (!request)
    return kCrashServerHandshakeFailed;
  if (timeout_ms > 0)
    SetTimeout(request.get(), timeout_ms);
  if (!AddHeaderIfNotEmpty(request.get(), kCrashUrlHeader, crash_url) ||
      !AddHeaderIfNotEmpty(request.get(), kOriginHeader, origin)) {
    return kCrashServerHandshakeFailed;
  }
  if (!::HttpSendRequestW(request.get(), nullptr, 0, nullptr, 0)) {
    PLOG(ERROR) << "HttpSendRequest";
    return kCrashServerHandshakeFailed;
  }
  const std::wstring status = QueryStatus(request.get());
  if (status == L"303")
    return ReadAcceptance(request.get(), report_id, location);
  if (status == L"503")
    return kCrashServerRefused;
  return kCrashServerHandshakeFailed;
}

}  // namespace installer
