#include "util/net/multipart_upload.h"

#include <windows.h>

#include <wininet.h>

#include <cstdio>
#include <limits>

#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/files/new_file_in_folder.h"
#include "base/logging.h"
#include "base/rand_util.h"
#include "base/strings/string_format.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/utf_string_conversions.h"
#include "util/net/http_url_parts.h"
#include "util/net/scoped_wininet_handle.h"

namespace util {

namespace {

constexpr wchar_t kUserAgent[] = L"CrashUploader/1.0 (Windows)";
constexpr char kBoundaryDashes[] = "---------------------------";
constexpr int kHttpOk = 200;
// No crash file is written longer.
constexpr size_t kMaxFileSize = 256u << 20;

// Printable ASCII without the '"' that would end the quoted name.
bool IsValidFieldName(const std::wstring& name) {
  if (name.empty())
    return false;
  for (wchar_t c : name) {
    if (c < 32 || c > 127 || c == L'"')
      return false;
  }
  return true;
}

std::string MakeBoundary() {
  return base::FormatString(
      "%s%08X%08X", kBoundaryDashes,
      static_cast<unsigned>(base::RandomIntInRange(0, std::numeric_limits<int32_t>::max())),
      static_cast<unsigned>(base::RandomIntInRange(0, std::numeric_limits<int32_t>::max())));
}

std::string PartStart(const std::string& boundary, const std::wstring& name) {
  return "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" +
         base::WideToUtf8(name) + "\"";
}

bool BuildBody(const std::string& boundary,
               const UploadFormFields& form_fields,
               const UploadFiles& files,
               std::string* body) {
  for (const auto& [name, value] : form_fields)
    *body += PartStart(boundary, name) + "\r\n\r\n" + base::WideToUtf8(value) + "\r\n";
  for (const auto& [name, path] : files) {
    std::string contents;
    // The crash folder may be the user's while the uploader runs elevated:
    // only the file made there, never what a link in its place leads to.
    if (name.empty() || path.empty() ||
        !base::NewFileInFolder::ReadToString(path, kMaxFileSize, &contents)) {
      PLOG(ERROR) << "Not sending " << base::WideToUtf8(path)
                  << ": missing, not a plain file of its own or too long";
      return false;
    }
    *body += PartStart(boundary, name) + "; filename=\"" +
             base::WideToUtf8(path) +
             "\"\r\nContent-Type: application/octet-stream\r\n\r\n";
    *body += contents;
    *body += "\r\n";
  }
  *body += "--" + boundary + "--\r\n";
  return true;
}

void SetTimeouts(HINTERNET request, uint32_t timeout_ms) {
  DWORD value = timeout_ms;
  if (!::InternetSetOptionW(request, INTERNET_OPTION_SEND_TIMEOUT, &value,
                            sizeof(value))) {
    std::fputs("Could not unset send timeout, continuing...\n", stderr);
  }
  if (!::InternetSetOptionW(request, INTERNET_OPTION_RECEIVE_TIMEOUT, &value,
                            sizeof(value))) {
    std::fputs("Could not unset receive timeout, continuing...\n", stderr);
  }
}

int QueryStatusCode(HINTERNET request) {
  wchar_t text[32] = {};
  DWORD size = sizeof(text) - sizeof(wchar_t);
  if (!::HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE, text, &size, nullptr))
    return 0;
  uint32_t code = 0;
  return base::WideStringToUint(text, &code) ? static_cast<int>(code) : 0;
}

// The whole answer body, checked against its Content-Length when it has one.
bool ReadResponseBody(HINTERNET request, std::string* body) {
  DWORD content_length = 0;
  DWORD size = sizeof(content_length);
  const bool has_length =
      ::HttpQueryInfoW(request, HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER,
                       &content_length, &size, nullptr) != FALSE;
  for (;;) {
    DWORD available = 0;
    if (!::InternetQueryDataAvailable(request, &available, 0, 0))
      return false;
    if (available == 0)
      break;
    const size_t old_size = body->size();
    body->resize(old_size + available);
    DWORD read = 0;
    if (!::InternetReadFile(request, body->data() + old_size, available, &read))
      return false;
    body->resize(old_size + read);
    if (read == 0)
      break;
  }
  return !has_length || body->size() == content_length;
}

}  // namespace

bool MultipartUpload(const std::wstring& user_agent_suffix,
                     const std::wstring& url,
                     const UploadFormFields& form_fields,
                     const UploadFiles& files,
                     std::optional<uint32_t> timeout_ms,
                     std::wstring* response_body,
                     int* response_code) {
  if (response_code)
    *response_code = 0;
  for (const auto& field : form_fields) {
    if (!IsValidFieldName(field.first))
      return false;
  }
  HttpUrlParts parts;
  if (!CrackHttpUrl(url, &parts))
    return false;

  const std::string boundary = MakeBoundary();
  std::string body;
  if (!BuildBody(boundary, form_fields, files, &body))
    return false;

  const std::wstring user_agent = kUserAgent + user_agent_suffix;
  ScopedWinInetHandle session(::InternetOpenW(
      user_agent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  if (!session)
    return false;
  ScopedWinInetHandle connection(::InternetConnectW(
      session.get(), parts.host.c_str(), parts.port, nullptr, nullptr,
      INTERNET_SERVICE_HTTP, 0, 0));
  if (!connection)
    return false;
  const DWORD flags =
      INTERNET_FLAG_NO_COOKIES | (parts.secure ? INTERNET_FLAG_SECURE : 0);
  ScopedWinInetHandle request(::HttpOpenRequestW(connection.get(), L"POST",
                                                 parts.path.c_str(), nullptr,
                                                 nullptr, nullptr, flags, 0));
  if (!request)
    return false;
  const std::wstring content_type =
      L"Content-Type: multipart/form-data; boundary=" + base::Utf8ToWide(boundary);
  if (!::HttpAddRequestHeadersW(request.get(), content_type.c_str(),
                                static_cast<DWORD>(content_type.size()),
                                HTTP_ADDREQ_FLAG_ADD)) {
    return false;
  }
  if (timeout_ms)
    SetTimeouts(request.get(), *timeout_ms);

  if (!::HttpSendRequestW(request.get(), nullptr, 0, body.data(),
                          static_cast<DWORD>(body.size()))) {
    PLOG(ERROR) << "HttpSendRequest";
    return false;
  }
  const int status = QueryStatusCode(request.get());
  if (response_code)
    *response_code = status;
  if (status != kHttpOk)
    return false;
  std::string answer;
  if (!ReadResponseBody(request.get(), &answer))
    return false;
  if (response_body)
    *response_body = base::Utf8ToWide(answer);
  return true;
}

}  // namespace util
