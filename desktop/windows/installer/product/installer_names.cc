#include "desktop/windows/installer/product/installer_names.h"

#include "base/lazy_global.h"
#include "base/strings/string_format.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/windows/installer/product/branding.h"

namespace installer {
namespace {

struct CachedProductName {
  const std::string name = GetProductName();
};

constinit base::LazyGlobalInstance<CachedProductName> g_product_name(
    base::LazyGlobalLifetime::kLeaky);

}  // namespace

std::wstring GetInstallerFolderName() {
  return base::Utf8ToWide(FormatWithProductName("%s Installer", false));
}

std::wstring GetUninstallEntryName(std::wstring_view version) {
  return base::Utf8ToWide(GetProductName()) + L" " + std::wstring(version);
}

std::string FormatWithProductName(const char* format, bool lower_case) {
  const std::string& cached = g_product_name.Get()->name;
  const std::string name =
      lower_case ? base::ToLowerAsciiString(cached) : cached;
  return base::FormatString(format, name.c_str());
}

std::wstring GetOldProductStreamName(int32_t product_type) {
  switch (product_type) {
    case 0:
      return std::wstring();
    case 1:
      return L"Next";
    case 2:
      return L"Labs";
    default:
      return L"Invalid";
  }
}

}  // namespace installer
