#ifndef DESKTOP_WINDOWS_INSTALLER_WININET_URL_PARTS_H_
#define DESKTOP_WINDOWS_INSTALLER_WININET_URL_PARTS_H_

#include <string>

namespace installer {

// What a request needs of a URL.
struct UrlParts {
  int scheme = 0;  // An INTERNET_SCHEME value.
  std::wstring host;
  int port = 0;
  // The path and query exactly as the URL spells them: escapes such as %2B
  // are part of what a server signs, so nothing is decoded.
  std::wstring path;
};

// False when the URL cannot be parsed, its host is empty or longer than 255
// characters, or its path and query are longer than 4095.
bool CrackUrl(const std::wstring& url, UrlParts* parts);

// `reference` (absolute, or relative as a Location header may be) resolved
// against `base`, escapes kept as written. False when it cannot be.
bool ResolveUrl(const std::wstring& base,
                const std::wstring& reference,
                std::wstring* url);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_WININET_URL_PARTS_H_
