#include "desktop/windows/installer/product/allowed_host_suffixes.h"

#include "base/strings/utf_string_conversions.h"
#include "desktop/windows/installer/product/branding.h"

namespace installer {

std::wstring GetExtraBrandingDomain() {
  std::wstring domain = base::Utf8ToWide(GetDomain());
  if (domain == kPublicDomainSuffix)
    return std::wstring();
  return domain;
}

std::vector<std::wstring> BuildAllowedHostSuffixes() {
  std::vector<std::wstring> suffixes;
  std::wstring domain = GetExtraBrandingDomain();
  if (!domain.empty())
    suffixes.push_back(std::move(domain));
  for (const wchar_t* suffix :
       {kPublicDomainSuffix, kDevelopmentDomainSuffix, kStagingDomainSuffix,
        kLoopbackHostName, kLoopbackAddress}) {
    suffixes.push_back(suffix);
  }
  return suffixes;
}

}  // namespace installer
