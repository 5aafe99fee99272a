#ifndef DESKTOP_WINDOWS_INSTALLER_SECURITY_ACCESS_PERMISSIONS_H_
#define DESKTOP_WINDOWS_INSTALLER_SECURITY_ACCESS_PERMISSIONS_H_

#include <windows.h>

#include <memory>
#include <string>

#include "base/win/scoped_local_alloc.h"

namespace installer {

// An object's access list as it was before a grant, so that the grant can be
// undone.
struct SavedSecurityInfo {
  SavedSecurityInfo();
  ~SavedSecurityInfo();
  SavedSecurityInfo(const SavedSecurityInfo&) = delete;
  SavedSecurityInfo& operator=(const SavedSecurityInfo&) = delete;

  std::wstring object_name;
  int object_type = 0;
  // Points into `security_descriptor`.
  PACL dacl = nullptr;
  base::win::ScopedLocalAlloc<> security_descriptor;
};

// Whether the process token is granted `desired_access` (specific rights) on
// the named object: a file or folder (SE_FILE_OBJECT) or a registry key
// (SE_REGISTRY_KEY, SE_REGISTRY_WOW64_32KEY). False for other object types
// and on any failure.
bool CheckAccessToPath(const std::wstring& object_name,
                       int object_type,
                       DWORD desired_access);

// The parts `information` names of the object's security descriptor,
// which the caller frees with LocalFree; `dacl` (may be null) points into
// it. Registry keys are read through a handle opened in the view their
// object type names: the lookup by name ignores the process's overridden
// roots, and Wine answers it for the 32-bit view with success and no
// descriptor. ERROR_INVALID_SECURITY_DESCR when no descriptor came back.
DWORD ReadSecurity(const std::wstring& object_name,
                   int object_type,
                   SECURITY_INFORMATION information,
                   PACL* dacl,
                   PSECURITY_DESCRIPTOR* descriptor);

// Enables or disables one privilege of `token` (opened with adjust access).
bool EnablePrivilege(const wchar_t* privilege, bool enable, HANDLE token);

// Makes the Administrators group the object's owner.
bool TakeOwnership(const std::wstring& object_name, int object_type);

// Grants the current user (the process token's user) `access_mask` on the
// object, inherited by sub-folders, files and sub-keys, weakening deny
// entries that would block it. With `keep_previous` (the installer core's
// flag 1), `saved` receives the access list from before the grant, for
// `RestoreSecurityInfo`: from before the first grant when the object still
// carries the list of another kept grant of this process, so that records
// given back in any order leave the object as it was. Without it nothing is
// kept and `saved` is emptied; `saved` may then be null.
bool GrantAccessToCurrentUser(const std::wstring& object_name,
                              int object_type,
                              DWORD access_mask,
                              bool keep_previous,
                              std::unique_ptr<SavedSecurityInfo>* saved);

// The same grant, nothing kept, written through `object` (a file or folder
// opened with READ_CONTROL and WRITE_DAC) instead of a name: it reaches the
// object held, wherever its name leads meanwhile. Never takes ownership.
bool GrantAccessToCurrentUserThroughHandle(HANDLE object, DWORD access_mask);

// The grant, with the list from before kept in `saved` (may be null), made
// on `file`: a file or folder the caller opened as itself (no link
// followed, one name), with any access. Never by a name, which may lead
// elsewhere meanwhile: the list is read and written through a handle
// reopened from `file` for READ_CONTROL and WRITE_DAC; where that is
// denied, the Administrators group takes ownership first through one
// reopened for WRITE_OWNER (with the take-ownership privilege).
bool GrantAccessToCurrentUserThroughFile(
    HANDLE file,
    DWORD access_mask,
    std::unique_ptr<SavedSecurityInfo>* saved);

// Writes the list `saved` kept back to `file`, the object it was read from,
// through a handle reopened from it for WRITE_DAC. False without a record.
bool RestoreSecurityInfoThroughFile(HANDLE file,
                                    const SavedSecurityInfo* saved);

// Writes the saved access list back to its object, protected from
// inheritance as it was. False without a record.
bool RestoreSecurityInfo(const SavedSecurityInfo* saved);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SECURITY_ACCESS_PERMISSIONS_H_
