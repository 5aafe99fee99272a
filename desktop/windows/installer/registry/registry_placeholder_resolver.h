#ifndef DESKTOP_WINDOWS_INSTALLER_REGISTRY_REGISTRY_PLACEHOLDER_RESOLVER_H_
#define DESKTOP_WINDOWS_INSTALLER_REGISTRY_REGISTRY_PLACEHOLDER_RESOLVER_H_

#include <windows.h>

#include <string>

#include "desktop/windows/installer/registry/placeholder_resolver.h"

namespace installer {

// The placeholders of the association and start-menu entries: the
// installation folder, the product and stream, and the extension or
// protocol being registered. Nothing it expands is noted in the install log.
class RegistryPlaceholderResolver : public PlaceholderResolver {
 public:
  // `association` is the extension (leading dot included) or protocol that
  // "{Extension}" and "{Protocol}" stand for; empty when none.
  RegistryPlaceholderResolver(const std::wstring& association,
                              const std::wstring& install_folder);

  // PlaceholderResolver:
  // An unknown name stands for itself.
  std::wstring Resolve(const std::wstring& name) override;
  RegistryData* GetRegistryRecord(HKEY root) override;

 private:
  const std::wstring association_;
  const std::wstring install_folder_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_REGISTRY_REGISTRY_PLACEHOLDER_RESOLVER_H_
