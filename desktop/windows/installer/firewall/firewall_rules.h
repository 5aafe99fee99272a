#ifndef DESKTOP_WINDOWS_INSTALLER_FIREWALL_FIREWALL_RULES_H_
#define DESKTOP_WINDOWS_INSTALLER_FIREWALL_FIREWALL_RULES_H_

#include <windows.h>
#include <netfw.h>

#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/win/com_ptr.h"

namespace installer {

// The Windows Firewall rules of one executable, reached through the
// firewall policy of the system. COM must be initialised on the thread that
// uses it; used from one thread.
class FirewallRules {
 public:
  FirewallRules();
  FirewallRules(const FirewallRules&) = delete;
  FirewallRules& operator=(const FirewallRules&) = delete;
  ~FirewallRules();

  // Reaches the policy and its rule collection; false when either is out
  // of reach. `application_name` groups the rules and starts their names.
  bool Init(const std::wstring& application_name,
            const base::FilePath& executable);

  // Whether the firewall is on for a profile in force; a profile whose
  // state cannot be read counts as on. When the profiles in force cannot be
  // read, the firewall counts as off.
  bool IsFirewallEnabled();
  bool HasRules();
  // Replaces the executable's inbound multicast-DNS rule.
  bool AddMdnsRule();
  void RemoveRules();

 private:
  using RuleList = std::vector<base::win::ComPtr<INetFwRule>>;

  // The rules whose application is `executable_`, ignoring case, in the
  // collection's order.
  RuleList GetRules();
  std::wstring GetMdnsRuleName() const;
  bool SetMdnsRuleFields(INetFwRule* rule);
  // Removes exactly `rule`: the collection removes by name, and other
  // rules may carry the same name.
  void RemoveRule(INetFwRule* rule);

  std::wstring application_name_;
  base::FilePath executable_;
  base::win::ComPtr<INetFwPolicy2> policy_;
  base::win::ComPtr<INetFwRules> rules_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_FIREWALL_FIREWALL_RULES_H_
