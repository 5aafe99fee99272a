#include "desktop/windows/installer/firewall/firewall_manager.h"

#include "desktop/windows/installer/firewall/firewall_name_provider.h"
#include "desktop/windows/installer/firewall/firewall_rules.h"

namespace installer {

namespace {

class FirewallManagerImpl : public FirewallManager {
 public:
  FirewallManagerImpl() = default;
  FirewallManagerImpl(const FirewallManagerImpl&) = delete;
  FirewallManagerImpl& operator=(const FirewallManagerImpl&) = delete;
  ~FirewallManagerImpl() override = default;

  bool Init(const std::wstring& application_name,
            const base::FilePath& executable) {
    return rules_.Init(application_name, executable);
  }

  // FirewallManager:
  bool AreRulesInPlace() override {
    return !rules_.IsFirewallEnabled() || rules_.HasRules();
  }
  bool AddMdnsRule() override { return rules_.AddMdnsRule(); }
  void RemoveRules() override { rules_.RemoveRules(); }

 private:
  FirewallRules rules_;
};

}  // namespace

// static
std::unique_ptr<FirewallManager> FirewallManager::Create(
    const FirewallNameProvider* name_provider,
    const base::FilePath& executable) {
  auto manager = std::make_unique<FirewallManagerImpl>();
  if (!manager->Init(name_provider->GetApplicationName(), executable))
    return nullptr;
  return manager;
}

}  // namespace installer
