#ifndef DESKTOP_WINDOWS_INSTALLER_REGISTRY_REGISTRY_ENTRY_TABLES_H_
#define DESKTOP_WINDOWS_INSTALLER_REGISTRY_REGISTRY_ENTRY_TABLES_H_

#include <span>

#include "desktop/windows/installer/registry/registry_entry.h"

namespace installer {

// What an installation writes under its root key: the browser's document
// class, its file types, its start-menu client and capabilities, and its
// Uninstall entry.
std::span<const RegistryEntryDescription> GetInstallationEntries();
// The browser's document class: the first rows of the installation entries.
std::span<const RegistryEntryDescription> GetDocumentClassEntries();
// The handler of the protocol that "{Protocol}" stands for. The last row
// removes the user's own choice of handler.
std::span<const RegistryEntryDescription> GetProtocolEntries();
// The handler of the extension that "{Extension}" stands for; the last row
// as for protocols.
std::span<const RegistryEntryDescription> GetExtensionEntries();
std::span<const RegistryEntryDescription> GetStartMenuInternetEntries();

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_REGISTRY_REGISTRY_ENTRY_TABLES_H_
