#include "desktop/windows/installer/wininet/url_parts.h"

#include <windows.h>

#include <wininet.h>

#include <utility>

namespace installer {

namespace {

constexpr size_t kMaxHostLength = 255;
constexpr size_t kMaxPathLength = 4095;
// A resolved URL longer than this could not be requested anyway.
constexpr DWORD kMaxUrlLength = 8192;

}  // namespace

bool CrackUrl(const std::wstring& url, UrlParts* parts) {
  // Without ICU_DECODE the components point into `url` as written; with it
  // %2B, %3D and %2F would go out as "+", "=" and "/".
  URL_COMPONENTSW components = {};
  components.dwStructSize = sizeof(components);
  components.dwHostNameLength = 1;
  components.dwUrlPathLength = 1;
  components.dwExtraInfoLength = 1;
  if (!::InternetCrackUrlW(url.c_str(), static_cast<DWORD>(url.size()), 0,
                           &components) ||
      !components.lpszHostName || components.dwHostNameLength == 0 ||
      components.dwHostNameLength > kMaxHostLength) {
    return false;
  }
  std::wstring path;
  if (components.lpszUrlPath)
    path.assign(components.lpszUrlPath, components.dwUrlPathLength);
  if (components.lpszExtraInfo)
    path.append(components.lpszExtraInfo, components.dwExtraInfoLength);
  // A fragment belongs to the client, never to the request.
  path = path.substr(0, path.find(L'#'));
  if (path.empty() || path[0] != L'/')
    path.insert(0, L"/");
  if (path.size() > kMaxPathLength)
    return false;
  parts->scheme = components.nScheme;
  parts->host.assign(components.lpszHostName, components.dwHostNameLength);
  parts->port = components.nPort;
  parts->path = std::move(path);
  return true;
}

bool ResolveUrl(const std::wstring& base,
                const std::wstring& reference,
                std::wstring* url) {
  std::wstring buffer(kMaxUrlLength + 1, L'\0');
  DWORD length = static_cast<DWORD>(buffer.size());
  // Unsafe characters are escaped, existing escapes stay as they are.
  if (!::InternetCombineUrlW(base.c_str(), reference.c_str(), buffer.data(),
                             &length, 0) ||
      length > kMaxUrlLength) {
    return false;
  }
  buffer.resize(length);
  *url = std::move(buffer);
  return true;
}

}  // namespace installer
