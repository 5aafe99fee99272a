#include "desktop/windows/installer/firewall/firewall_name_provider.h"

#include "base/lazy_global.h"

namespace installer {

namespace {

constexpr wchar_t kApplicationName[] = L"Tarvo developer Internet Browser";
constexpr wchar_t kShortName[] = L"Tarvo";

constinit base::LazyGlobalInstance<FirewallNameProvider> g_name_provider(
    base::LazyGlobalLifetime::kLeaky);

}  // namespace

std::wstring FirewallNameProvider::GetApplicationName() const {
  return kApplicationName;
}

std::wstring FirewallNameProvider::GetShortName() const {
  return kShortName;
}

FirewallNameProvider* GetFirewallNameProvider() {
  return g_name_provider.Get();
}

}  // namespace installer
