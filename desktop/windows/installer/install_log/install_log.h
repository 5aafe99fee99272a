#ifndef DESKTOP_WINDOWS_INSTALLER_INSTALL_LOG_INSTALL_LOG_H_
#define DESKTOP_WINDOWS_INSTALLER_INSTALL_LOG_INSTALL_LOG_H_

#include <string>
#include <utility>
#include <vector>

#include "desktop/windows/installer/product/package_file_names.h"
#include "desktop/windows/installer/registry/registry_key_record.h"

namespace installer {

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
