#include "base/win/access_list.h"

#include "base/logging.h"

namespace base::win {

ScopedLocalAlloc<ACL> AddAccessAllowedEntry(PACL dacl,
                                            const TRUSTEE_W& trustee,
                                            DWORD access,
                                            DWORD inheritance) {
  EXPLICIT_ACCESS_W entry = {};
  entry.grfAccessPermissions = access;
  entry.grfAccessMode = GRANT_ACCESS;
  entry.grfInheritance = inheritance;
  entry.Trustee = trustee;
  ScopedLocalAlloc<ACL> merged;
  const DWORD error = ::SetEntriesInAclW(1, &entry, dacl, merged.Receive());
  if (error != ERROR_SUCCESS) {
    ::SetLastError(error);
    PLOG(ERROR) << "Error returned by SetEntriesInAcl";
    return ScopedLocalAlloc<ACL>();
  }
  return merged;
}

ScopedLocalAlloc<ACL> AddAccessAllowedEntry(PACL dacl,
                                            PSID sid,
                                            DWORD access,
                                            DWORD inheritance) {
  TRUSTEE_W trustee = {};
  ::BuildTrusteeWithSidW(&trustee, sid);
  return AddAccessAllowedEntry(dacl, trustee, access, inheritance);
}

}  // namespace base::win
