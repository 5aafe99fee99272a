#ifndef BASE_WIN_ACCESS_LIST_H_
#define BASE_WIN_ACCESS_LIST_H_

#include <windows.h>

#include <aclapi.h>

#include "base/win/scoped_local_alloc.h"

namespace base::win {

// A copy of `dacl` (null: an empty list) with an entry that allows
// `trustee` the rights of `access`, passed on to children as `inheritance`
// says (NO_INHERITANCE, SUB_CONTAINERS_AND_OBJECTS_INHERIT, ...); the
// list's own entries stay. Null, with the Windows error logged, on failure;
// the caller writes the list to its object.
[[nodiscard]] ScopedLocalAlloc<ACL> AddAccessAllowedEntry(
    PACL dacl,
    const TRUSTEE_W& trustee,
    DWORD access,
    DWORD inheritance);
// The same for a trustee named by SID, the form that cannot resolve to
// another account of the same logon name.
[[nodiscard]] ScopedLocalAlloc<ACL> AddAccessAllowedEntry(PACL dacl,
                                                          PSID sid,
                                                          DWORD access,
                                                          DWORD inheritance);

}  // namespace base::win

#endif  // BASE_WIN_ACCESS_LIST_H_
