#include "desktop/windows/installer/backend/product_placeholders.h"

#include "base/strings/utf_string_conversions.h"
#include "desktop/windows/installer/product/branding.h"
#include "desktop/windows/installer/product/installer_version.h"
#include "desktop/windows/installer/system/utils.h"

namespace installer {

namespace {

struct Placeholder {
  const wchar_t* name;
  std::wstring (*value)();
};

std::wstring VersionValue() {
  return base::Utf8ToWide(GetVersionString());
}
std::wstring ExecutableValue() {
  return base::Utf8ToWide(GetProductExecutableName());
}
std::wstring ProductValue() {
  return base::Utf8ToWide(GetProductName());
}
std::wstring CompanyValue() {
  return base::Utf8ToWide(GetCompanyName());
}
std::wstring CompanyRegistryKeyValue() {
  return GetCompanyRegistryPath();
}
std::wstring StreamValue() {
  return base::Utf8ToWide(GetStreamName());
}
std::wstring HelpUrlValue() {
  return base::Utf8ToWide(GetBrandingUrl("help"));
}
std::wstring CompanyUrlValue() {
  return base::Utf8ToWide(GetBrandingUrl("homepage"));
}
std::wstring DownloadsUrlValue() {
  return base::Utf8ToWide(GetBrandingUrl("download"));
}

constexpr Placeholder kPlaceholders[] = {
    {L"Version", &VersionValue},
    {L"Executable", &ExecutableValue},
    {L"Product", &ProductValue},
    {L"Company", &CompanyValue},
    {L"CompanyRegistryKey", &CompanyRegistryKeyValue},
    {L"Stream", &StreamValue},
    {L"HelpURL", &HelpUrlValue},
    {L"CompanyURL", &CompanyUrlValue},
    {L"DownloadsURL", &DownloadsUrlValue},
};

}  // namespace

std::wstring ResolveProductPlaceholder(const std::wstring& name) {
  for (const Placeholder& placeholder : kPlaceholders) {
    if (name == placeholder.name)
      return placeholder.value();
  }
  return name;
}

}  // namespace installer
