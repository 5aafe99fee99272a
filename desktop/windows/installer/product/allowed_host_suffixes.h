#ifndef DESKTOP_WINDOWS_INSTALLER_PRODUCT_ALLOWED_HOST_SUFFIXES_H_
#define DESKTOP_WINDOWS_INSTALLER_PRODUCT_ALLOWED_HOST_SUFFIXES_H_

#include <string>
#include <vector>

namespace installer {

// The hosts the front end's own requests may reach, whatever the branding
// says: the product's public domain, the maker's development networks and
// the local machine.
inline constexpr wchar_t kPublicDomainSuffix[] = L"tarvo.com";
inline constexpr wchar_t kDevelopmentDomainSuffix[] = L"tarvo.dev";
inline constexpr wchar_t kStagingDomainSuffix[] = L"tarvo.test";
inline constexpr wchar_t kLoopbackHostName[] = L"localhost";
inline constexpr wchar_t kLoopbackAddress[] = L"127.0.0.1";

// The update server's requests (package location, preference defaults): the
// branding domain when it is not the public one, then the built-in hosts.
std::vector<std::wstring> BuildAllowedHostSuffixes();

// The branding domain, converted from UTF-8, when it is neither empty nor
// the built-in public domain; otherwise empty.
std::wstring GetExtraBrandingDomain();

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PRODUCT_ALLOWED_HOST_SUFFIXES_H_
