#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_ACCESS_PERMISSIONS_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_ACCESS_PERMISSIONS_H_

#include <windows.h>

#include <string>

namespace installer {

// Whether the process token is granted `desired_access` (specific rights) on
// the named object: a file or folder (SE_FILE_OBJECT) or a registry key
// (SE_REGISTRY_KEY, SE_REGISTRY_WOW64_32KEY). False for other object types
// and on any failure.
bool CheckAccessToPath(const std::wstring& object_name,
                       int object_type,
                       DWORD desired_access);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_ACCESS_PERMISSIONS_H_
