#include "desktop/windows/installer/wininet/redirect_target.h"

#include <windows.h>

#include <algorithm>
#include <cwchar>
#include <iterator>

#include "base/strings/string_format.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/windows/installer/wininet/wininet_downloader.h"

namespace installer {

namespace {

struct RedirectStatus {
  int status;
  bool keeps_post;
};

constexpr RedirectStatus kRedirectStatuses[] = {
    {301, false}, {302, false}, {303, false}, {307, true}, {308, true}};

const RedirectStatus* FindRedirectStatus(int status) {
  const auto* found = std::find_if(
      std::begin(kRedirectStatuses), std::end(kRedirectStatuses),
      [status](const RedirectStatus& entry) { return entry.status == status; });
  return found == std::end(kRedirectStatuses) ? nullptr : found;
}

// Whether `url` begins with "http://" or "https://", in any case.
bool IsHttpUrl(const std::wstring& url) {
  for (const wchar_t* scheme : {L"http://", L"https://"}) {
    const size_t length = wcslen(scheme);
    if (url.size() >= length &&
        ::CompareStringOrdinal(url.c_str(), static_cast<int>(length), scheme,
                               static_cast<int>(length), TRUE) == CSTR_EQUAL) {
      return true;
    }
  }
  return false;
}

std::string Disallowed(const std::wstring& url) {
  return base::FormatString("Redirect URL is disallowed %s",
                            base::WideToUtf8(url).c_str());
}

}  // namespace

bool IsRedirectStatus(int status) {
  return FindRedirectStatus(status) != nullptr;
}

bool RedirectKeepsPost(int status) {
  const RedirectStatus* found = FindRedirectStatus(status);
  return found && found->keeps_post;
}

bool ResolveRedirect(const std::wstring& from,
                     const std::wstring& location,
                     const std::vector<std::wstring>& allowed_host_suffixes,
                     RedirectTarget* target,
                     std::string* error) {
  // No URL holds a backslash unescaped; resolving one may read it as a
  // path separator and "\\host\share" as a network path.
  if (location.find(L'\\') != std::wstring::npos) {
    *error = Disallowed(location);
    return false;
  }
  if (!ResolveUrl(from, location, &target->url)) {
    *error = base::FormatString("Redirect URL failed to parse %s",
                                base::WideToUtf8(location).c_str());
    return false;
  }
  // A download goes over HTTP only: never to a file, nor to another
  // protocol's server.
  if (!IsHttpUrl(target->url)) {
    *error = Disallowed(target->url);
    return false;
  }
  if (!CrackUrl(target->url, &target->parts)) {
    *error = base::FormatString("Redirect URL failed to parse %s",
                                base::WideToUtf8(target->url).c_str());
    return false;
  }
  if (!WinInetDownloader::IsDomainAllowed(allowed_host_suffixes,
                                          target->parts.host)) {
    *error = Disallowed(target->url);
    return false;
  }
  return true;
}

}  // namespace installer
