#include "desktop/windows/installer/backend/steps/firewall_rule.h"

#include <memory>

#include "base/files/file_path.h"
#include "base/logging.h"
#include "desktop/windows/installer/firewall/firewall_manager.h"
#include "desktop/windows/installer/firewall/firewall_name_provider.h"

namespace installer {

void AddFirewallRule(const base::FilePath& executable, bool remove) {
  std::unique_ptr<FirewallManager> manager =
      FirewallManager::Create(GetFirewallNameProvider(), executable);
  if (!manager) {
    LOG(ERROR) << "Failed creating a FirewallManager.";
    return;
  }
  if (remove)
    manager->RemoveRules();
  else if (!manager->AddMdnsRule())
    LOG(ERROR) << "Failed creating a firewall rules.";
}

}  // namespace installer
