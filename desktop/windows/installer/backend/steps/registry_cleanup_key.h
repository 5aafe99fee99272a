#ifndef DESKTOP_WINDOWS_INSTALLER_BACKEND_STEPS_REGISTRY_CLEANUP_KEY_H_
#define DESKTOP_WINDOWS_INSTALLER_BACKEND_STEPS_REGISTRY_CLEANUP_KEY_H_

#include <cstdint>
#include <string>

namespace installer {

// The key that a registry record of an install log removes: `key_path` with
// its last `depth` - 1 components stripped. The log is a file the user can
// write, so a record that would reach a shared key (a hive's "Software", a
// vendor's key, a list such as "...\CurrentVersion\Run") is refused: false.
bool GetRegistryCleanupKey(const std::wstring& key_path,
                           int32_t depth,
                           std::wstring* key);

// Whether `key_path` is an Uninstall entry's key (ASCII case ignored).
bool IsUninstallEntryKey(const std::wstring& key_path);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_BACKEND_STEPS_REGISTRY_CLEANUP_KEY_H_
