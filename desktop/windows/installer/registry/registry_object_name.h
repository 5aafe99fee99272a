#ifndef DESKTOP_WINDOWS_INSTALLER_REGISTRY_REGISTRY_OBJECT_NAME_H_
#define DESKTOP_WINDOWS_INSTALLER_REGISTRY_REGISTRY_OBJECT_NAME_H_

#include <windows.h>

#include <string>

namespace installer {

// A registry key as the access functions name it: the root's prefix
// ("CLASSES_ROOT", "MACHINE", "CURRENT_USER", "USERS"), then a backslash and
// the key path. Just the prefix for the root itself; empty for another root.
std::wstring GetRegistryObjectName(HKEY root, const std::wstring& key_path);

// SE_REGISTRY_WOW64_32KEY for the 32-bit view, else SE_REGISTRY_KEY.
int GetRegistryObjectType(REGSAM view);

// Whether `object_type` names a registry key in either view.
bool IsRegistryObjectType(int object_type);

// The root, key path and view of a registry object name; false when the name
// starts with no known root.
bool ParseRegistryObjectName(const std::wstring& object_name,
                             int object_type,
                             HKEY* root,
                             std::wstring* key_path,
                             REGSAM* view);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_REGISTRY_REGISTRY_OBJECT_NAME_H_
