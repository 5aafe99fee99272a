#ifndef DESKTOP_WINDOWS_INSTALLER_INSTALL_LOG_INSTALL_LOG_H_
#define DESKTOP_WINDOWS_INSTALLER_INSTALL_LOG_INSTALL_LOG_H_

#include <string>
#include <utility>
#include <vector>

#include "desktop/windows/installer/registry/registry_key_record.h"

namespace installer {

// The install log's file in the installation folder, and the name an
// installation of the product's former installer gave it, which an update
// still takes over.
inline constexpr wchar_t kInstallLogName[] = L"installation_status.xml";
inline constexpr wchar_t kFormerInstallLogName[] = L"tarvo_install_log.xml";
// The folder beside it into which an update moves the logs of the versions
// it replaces.
inline constexpr wchar_t kOldStatusFolder[] = L"old_status";

// What an installation put on the machine, as "installation_status.xml"
// records it: a later update or uninstallation undoes exactly this.
struct InstallLog {
  bool copy_only = false;
  bool all_users = true;
  bool pinned = false;
  std::string app_id;
  std::wstring path;
  std::wstring subfolder;
  std::string version;
  std::wstring desktop_shortcut;
  std::wstring start_menu_shortcut;
  std::wstring quick_launch_shortcut;
  std::vector<std::wstring> files;
  std::vector<std::wstring> root_files;
  // Component name and its path.
  std::vector<std::pair<std::string, std::wstring>> components;
  RegistryData hklm_registry;
  RegistryData hkcu_registry;

  bool operator==(const InstallLog&) const = default;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_INSTALL_LOG_INSTALL_LOG_H_
