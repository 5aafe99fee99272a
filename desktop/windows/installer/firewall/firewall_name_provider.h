#ifndef DESKTOP_WINDOWS_INSTALLER_FIREWALL_FIREWALL_NAME_PROVIDER_H_
#define DESKTOP_WINDOWS_INSTALLER_FIREWALL_FIREWALL_NAME_PROVIDER_H_

#include <string>

namespace installer {

// The names the product's firewall rules carry. The base class gives the
// product's own names; a variant overrides them.
class FirewallNameProvider {
 public:
  virtual ~FirewallNameProvider() = default;

  // The rules' group, and the start of each rule's name.
  virtual std::wstring GetApplicationName() const;
  virtual std::wstring GetShortName() const;
};

// The process-wide provider, made on first use and never freed.
FirewallNameProvider* GetFirewallNameProvider();

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_FIREWALL_FIREWALL_NAME_PROVIDER_H_
