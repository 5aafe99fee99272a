#include "desktop/windows/installer/registry/registry_placeholder_resolver.h"

#include "base/strings/utf_string_conversions.h"
#include "desktop/windows/installer/product/branding.h"
#include "desktop/windows/installer/product/installer_version.h"

namespace installer {

RegistryPlaceholderResolver::RegistryPlaceholderResolver(
    const std::wstring& association,
    const std::wstring& install_folder)
    : association_(association), install_folder_(install_folder) {}

std::wstring RegistryPlaceholderResolver::Resolve(const std::wstring& name) {
  if (name == L"InstallFolder")
    return install_folder_;
  if (name == L"Stream")
    return base::Utf8ToWide(GetStreamName());
  if (name == L"Product")
    return base::Utf8ToWide(GetProductName());
  if (name == L"Extension" || name == L"Protocol")
    return association_;
  return name;
}

RegistryData* RegistryPlaceholderResolver::GetRegistryRecord(HKEY) {
  return nullptr;
}

}  // namespace installer
