#ifndef DESKTOP_WINDOWS_INSTALLER_WININET_REDIRECT_TARGET_H_
#define DESKTOP_WINDOWS_INSTALLER_WININET_REDIRECT_TARGET_H_

#include <string>
#include <vector>

#include "desktop/windows/installer/wininet/url_parts.h"

namespace installer {

// Where a redirect leads: its Location resolved against the URL that
// answered, and that URL's parts.
struct RedirectTarget {
  std::wstring url;
  UrlParts parts;
};

// Whether a response of `status` redirects (with a Location), and whether
// the request that follows it keeps a POST a POST: only 307 and 308 do; a
// 301, 302 or 303 is followed with a GET, as browsers and WinINet do.
bool IsRedirectStatus(int status);
bool RedirectKeepsPost(int status);

// Resolves `location`, answered to a request of `from`, into `target` and
// checks that a download may go there: an http or https URL that parses,
// to one of `allowed_host_suffixes` (see WinInetDownloader::IsDomainAllowed).
// A local or network file path never passes. When it may not, `error`
// holds the line that says why; `target->url` is set whenever the location
// could be resolved.
[[nodiscard]] bool ResolveRedirect(
    const std::wstring& from,
    const std::wstring& location,
    const std::vector<std::wstring>& allowed_host_suffixes,
    RedirectTarget* target,
    std::string* error);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_WININET_REDIRECT_TARGET_H_
