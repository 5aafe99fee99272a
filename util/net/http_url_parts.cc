#include "util/net/http_url_parts.h"

#include <windows.h>

#include <wininet.h>

namespace util {

namespace {

// The sizes of the buffers the crash servers' URLs have always been split
// into, terminator included.
constexpr DWORD kHostBufferSize = 256;
constexpr DWORD kPathBufferSize = 256;
constexpr DWORD kSchemeBufferSize = 16;

}  // namespace

bool CrackHttpUrl(const std::wstring& url, HttpUrlParts* parts) {
  // Lengths of 1 ask for pointers into `url`; without ICU_DECODE nothing is
  // unescaped.
  URL_COMPONENTSW components = {};
  components.dwStructSize = sizeof(components);
  components.dwSchemeLength = 1;
  components.dwHostNameLength = 1;
  components.dwUrlPathLength = 1;
  components.dwExtraInfoLength = 1;
  if (!::InternetCrackUrlW(url.c_str(), static_cast<DWORD>(url.size()), 0,
                           &components) ||
      !components.lpszScheme || !components.lpszHostName ||
      components.dwSchemeLength >= kSchemeBufferSize ||
      components.dwHostNameLength == 0 ||
      components.dwHostNameLength >= kHostBufferSize) {
    return false;
  }
  const std::wstring scheme(components.lpszScheme, components.dwSchemeLength);
  if (scheme != L"https" && scheme != L"http")
    return false;
  std::wstring path;
  if (components.lpszUrlPath)
    path.assign(components.lpszUrlPath, components.dwUrlPathLength);
  if (components.lpszExtraInfo)
    path.append(components.lpszExtraInfo, components.dwExtraInfoLength);
  if (path.size() >= kPathBufferSize)
    return false;
  parts->secure = scheme == L"https";
  parts->host.assign(components.lpszHostName, components.dwHostNameLength);
  parts->port = components.nPort;
  parts->path = path;
  return true;
}

}  // namespace util
