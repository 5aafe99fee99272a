#ifndef DESKTOP_WINDOWS_INSTALLER_TEST_STANDARD_USER_TOKEN_H_
#define DESKTOP_WINDOWS_INSTALLER_TEST_STANDARD_USER_TOKEN_H_

#include <windows.h>
#include <aclapi.h>

#include <cstdint>
#include <string>
#include <vector>

#include "base/win/registry.h"
#include "base/win/scoped_handle.h"
#include "base/win/scoped_local_alloc.h"

namespace installer::test {

// Whether the list denies anyone anything: a key's list that does was set
// so on purpose, by a test that compares it and may run meanwhile.
inline bool DeniesAnything(const ACL* dacl) {
  if (!dacl)
    return false;
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    if (::GetAce(const_cast<ACL*>(dacl), i, &ace) &&
        static_cast<const ACE_HEADER*>(ace)->AceType == ACCESS_DENIED_ACE_TYPE) {
      return true;
    }
  }
  return false;
}

// Gives this user full access to every key of HKEY_CURRENT_USER below
// `path` that it lacks, as the user's hive has on Windows, where every key
// inherits it from the hive's root. Wine lets no key inherit: a key an
// administrator's process made (every process of Wine's user, the tests'
// own tools) names only the administrators and the system, and would
// refuse the user's standard token. A key that denies anything is left as
// it stands (DeniesAnything). Called as the administrator, before a
// standard user's start.
inline void GiveUserTheirHive(PSID user, const std::wstring& path = L"") {
  base::win::RegistryKey key;
  if (key.Open(HKEY_CURRENT_USER, path.c_str(),
               READ_CONTROL | WRITE_DAC | KEY_ENUMERATE_SUB_KEYS) !=
      ERROR_SUCCESS) {
    return;
  }
  PACL dacl = nullptr;
  base::win::ScopedLocalAlloc<void> descriptor;
  if (::GetSecurityInfo(key.Handle(), SE_REGISTRY_KEY,
                        DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                        nullptr, descriptor.Receive()) == ERROR_SUCCESS &&
      !DeniesAnything(dacl)) {
    EXPLICIT_ACCESS_W access = {};
    access.grfAccessPermissions = KEY_ALL_ACCESS;
    access.grfAccessMode = GRANT_ACCESS;
    access.grfInheritance = CONTAINER_INHERIT_ACE;
    access.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    access.Trustee.ptstrName = static_cast<LPWSTR>(user);
    base::win::ScopedLocalAlloc<ACL> granted;
    if (::SetEntriesInAclW(1, &access, dacl, granted.Receive()) ==
        ERROR_SUCCESS) {
      ::SetSecurityInfo(key.Handle(), SE_REGISTRY_KEY,
                        DACL_SECURITY_INFORMATION, nullptr, nullptr,
                        granted.Get(), nullptr);
    }
  }
  for (const std::wstring& name : key.SubkeyNames(100000))
    GiveUserTheirHive(user, path.empty() ? name : path + L"\\" + name);
}

// This process's token filtered as UAC filters an administrator's: the
// administrators' group kept for deny only and, with the default flags,
// every privilege but change-notify dropped; the user is given their hive
// first (GiveUserTheirHive). A primary token, for
// CreateProcessAsUserW: under Wine every process is an elevated
// administrator's, and this is how a test starts a standard user's
// process. Invalid on failure.
inline base::win::ScopedHandle MakeStandardUserToken(
    DWORD flags = DISABLE_MAX_PRIVILEGE) {
  HANDLE raw_token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(),
                          TOKEN_DUPLICATE | TOKEN_QUERY | TOKEN_ASSIGN_PRIMARY |
                              TOKEN_ADJUST_DEFAULT,
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
  HANDLE raw_restricted = nullptr;
  if (!::CreateRestrictedToken(token.Get(), flags, 1, &deny_only,
                               static_cast<DWORD>(dropped.size()),
                               dropped.data(), 0, nullptr, &raw_restricted)) {
    return base::win::ScopedHandle();
  }
  base::win::ScopedHandle restricted(raw_restricted);
  // What it makes is its user's and the system's, as a standard user's
  // token has it: the administrator's default list names the
  // administrators, which this token may not use, and Wine lets no key
  // inherit its parent's list, so its own keys would refuse it.
  DWORD user_size = 0;
  ::GetTokenInformation(token.Get(), TokenUser, nullptr, 0, &user_size);
  std::vector<uint8_t> user(user_size);
  BYTE system[SECURITY_MAX_SID_SIZE];
  DWORD system_size = sizeof(system);
  if (user_size == 0 ||
      !::GetTokenInformation(token.Get(), TokenUser, user.data(), user_size,
                             &user_size) ||
      !::CreateWellKnownSid(WinLocalSystemSid, nullptr, system,
                            &system_size)) {
    return base::win::ScopedHandle();
  }
  const PSID user_sid = reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
  GiveUserTheirHive(user_sid);
  std::vector<uint8_t> acl(sizeof(ACL) + 2 * (sizeof(ACCESS_ALLOWED_ACE) +
                                              SECURITY_MAX_SID_SIZE));
  ACL* dacl = reinterpret_cast<ACL*>(acl.data());
  TOKEN_DEFAULT_DACL default_dacl = {dacl};
  // Every right spelled out: Wine does not map GENERIC_ALL for a key that
  // RegCreateKeyEx makes on the way to another.
  constexpr DWORD kAllRights = STANDARD_RIGHTS_ALL | SPECIFIC_RIGHTS_ALL;
  if (!::InitializeAcl(dacl, static_cast<DWORD>(acl.size()), ACL_REVISION) ||
      !::AddAccessAllowedAce(dacl, ACL_REVISION, kAllRights, user_sid) ||
      !::AddAccessAllowedAce(dacl, ACL_REVISION, kAllRights, system) ||
      !::SetTokenInformation(restricted.Get(), TokenDefaultDacl,
                             &default_dacl, sizeof(default_dacl))) {
    return base::win::ScopedHandle();
  }
  return restricted;
}

}  // namespace installer::test

#endif  // DESKTOP_WINDOWS_INSTALLER_TEST_STANDARD_USER_TOKEN_H_
