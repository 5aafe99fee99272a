#ifndef DESKTOP_WINDOWS_INSTALLER_FIREWALL_FIREWALL_MANAGER_H_
#define DESKTOP_WINDOWS_INSTALLER_FIREWALL_FIREWALL_MANAGER_H_

#include <memory>

#include "base/files/file_path.h"

namespace installer {

class FirewallNameProvider;

// The Windows Firewall rules the installer owns for the browser's
// executable: an inbound rule for multicast DNS (UDP 5353), added at
// installation and removed at uninstallation. COM must be initialised on
// the calling thread; used from one thread.
class FirewallManager {
 public:
  // Null when the firewall policy of the system cannot be reached.
  static std::unique_ptr<FirewallManager> Create(
      const FirewallNameProvider* name_provider,
      const base::FilePath& executable);

  virtual ~FirewallManager() = default;

  // True when the firewall is off for every profile in force (nothing to
  // do), else whether the executable has a rule.
  virtual bool AreRulesInPlace() = 0;
  // Replaces the executable's mDNS rule; true when the new one was added.
  virtual bool AddMdnsRule() = 0;
  // Removes every rule whose application is the executable.
  virtual void RemoveRules() = 0;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_FIREWALL_FIREWALL_MANAGER_H_
