#ifndef DESKTOP_WINDOWS_INSTALLER_BACKEND_STEPS_FIREWALL_RULE_H_
#define DESKTOP_WINDOWS_INSTALLER_BACKEND_STEPS_FIREWALL_RULE_H_

namespace base {
class FilePath;
}

namespace installer {

// Adds the product's firewall rule for `executable`, or removes its rules.
// Failures are logged: an installation goes on without the rule.
void AddFirewallRule(const base::FilePath& executable, bool remove);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_BACKEND_STEPS_FIREWALL_RULE_H_
