#ifndef DESKTOP_WINDOWS_INSTALLER_REGISTRY_PLACEHOLDER_RESOLVER_H_
#define DESKTOP_WINDOWS_INSTALLER_REGISTRY_PLACEHOLDER_RESOLVER_H_

#include <windows.h>

#include <string>

#include "desktop/windows/installer/registry/registry_key_record.h"

namespace installer {

// What the placeholders in braces of a registry entry stand for, and where
// the values written from the entries are noted for a later uninstallation.
class PlaceholderResolver {
 public:
  virtual ~PlaceholderResolver() = default;

  // The value of the placeholder `name`, given without its braces.
  virtual std::wstring Resolve(const std::wstring& name) = 0;
  // The install log's registry data for values written under `root`, or
  // null when they are not to be noted.
  virtual RegistryData* GetRegistryRecord(HKEY root) = 0;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_REGISTRY_PLACEHOLDER_RESOLVER_H_
