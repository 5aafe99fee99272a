#ifndef DESKTOP_WINDOWS_INSTALLER_TEST_STANDARD_USER_TOKEN_H_
#define DESKTOP_WINDOWS_INSTALLER_TEST_STANDARD_USER_TOKEN_H_

#include <windows.h>

#include <cstdint>
#include <vector>

#include "base/win/scoped_handle.h"

namespace installer::test {

// This process's token filtered as UAC filters an administrator's: the
// administrators' group kept for deny only and, with the default flags,
// every privilege but change-notify dropped. A primary token, for
// CreateProcessAsUserW: under Wine every process is an elevated
// administrator's, and this is how a test starts a standard user's
// process. Invalid on failure.
inline base::win::ScopedHandle MakeStandardUserToken(
    DWORD flags = DISABLE_MAX_PRIVILEGE) {
  HANDLE raw_token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(),
                          TOKEN_DUPLICATE | TOKEN_QUERY | TOKEN_ASSIGN_PRIMARY,
                          &raw_token)) {
    return base::win::ScopedHandle();
  }
  const base::win::ScopedHandle token(raw_token);
  BYTE administrators[SECURITY_MAX_SID_SIZE];
  DWORD size = sizeof(administrators);
  if (!::CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr,
                            administrators, &size)) {
    return base::win::ScopedHandle();
  }
  SID_AND_ATTRIBUTES deny_only = {administrators, 0};
  // Wine ignores DISABLE_MAX_PRIVILEGE: the privileges go by name as well.
  std::vector<LUID_AND_ATTRIBUTES> dropped;
  if (flags & DISABLE_MAX_PRIVILEGE) {
    DWORD size = 0;
    ::GetTokenInformation(token.Get(), TokenPrivileges, nullptr, 0, &size);
    std::vector<uint8_t> buffer(size);
    if (size == 0 || !::GetTokenInformation(token.Get(), TokenPrivileges,
                                            buffer.data(), size, &size)) {
      return base::win::ScopedHandle();
    }
    const auto* held = reinterpret_cast<const TOKEN_PRIVILEGES*>(buffer.data());
    LUID change_notify = {};
    ::LookupPrivilegeValueW(nullptr, L"SeChangeNotifyPrivilege", &change_notify);
    for (DWORD index = 0; index < held->PrivilegeCount; ++index) {
      const LUID& luid = held->Privileges[index].Luid;
      if (luid.LowPart != change_notify.LowPart ||
          luid.HighPart != change_notify.HighPart) {
        dropped.push_back({luid, 0});
      }
    }
  }
  HANDLE restricted = nullptr;
  if (!::CreateRestrictedToken(token.Get(), flags, 1, &deny_only,
                               static_cast<DWORD>(dropped.size()),
                               dropped.data(), 0, nullptr, &restricted)) {
    return base::win::ScopedHandle();
  }
  return base::win::ScopedHandle(restricted);
}

}  // namespace installer::test

#endif  // DESKTOP_WINDOWS_INSTALLER_TEST_STANDARD_USER_TOKEN_H_
