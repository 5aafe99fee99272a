#include "desktop/windows/installer/system/process_elevation.h"

#include <atomic>
#include <cstdint>
#include <vector>

#include "base/logging.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/system/utils.h"

namespace installer {

namespace {

// What UAC takes from an administrator's token besides the group: a token
// that holds one of these can take the machine without being in it.
constexpr const wchar_t* kAdministratorsPrivileges[] = {
    L"SeCreateTokenPrivilege",  L"SeTcbPrivilege",
    L"SeTakeOwnershipPrivilege", L"SeBackupPrivilege",
    L"SeRestorePrivilege",      L"SeDebugPrivilege",
    L"SeImpersonatePrivilege",  L"SeRelabelPrivilege",
    L"SeLoadDriverPrivilege",
};

std::atomic<ProcessElevation::TokenQuery> g_token_query{nullptr};

std::optional<bool> ReadElevated(HANDLE token) {
  TOKEN_ELEVATION elevation = {};
  DWORD size = 0;
  if (!::GetTokenInformation(token, TokenElevation, &elevation,
                             sizeof(elevation), &size)) {
    PLOG(ERROR) << "Reading the token's elevation failed";
    return std::nullopt;
  }
  return elevation.TokenIsElevated != 0;
}

std::optional<bool> HoldsAdministratorsForDenyOnly(HANDLE token) {
  const std::vector<uint8_t> buffer = ReadTokenInformation(token, TokenGroups);
  if (buffer.empty())
    return std::nullopt;
  const auto* groups = reinterpret_cast<const TOKEN_GROUPS*>(buffer.data());
  for (DWORD index = 0; index < groups->GroupCount; ++index) {
    const SID_AND_ATTRIBUTES& group = groups->Groups[index];
    if (::IsWellKnownSid(group.Sid, WinBuiltinAdministratorsSid))
      return (group.Attributes & SE_GROUP_USE_FOR_DENY_ONLY) != 0;
  }
  return false;
}

bool IsAdministratorsPrivilege(const LUID& luid) {
  for (const wchar_t* name : kAdministratorsPrivileges) {
    LUID known = {};
    if (::LookupPrivilegeValueW(nullptr, name, &known) &&
        known.LowPart == luid.LowPart && known.HighPart == luid.HighPart) {
      return true;
    }
  }
  return false;
}

// Present counts, enabled or not: the holder may enable it at will.
std::optional<bool> HoldsAdministratorsPrivilege(HANDLE token) {
  const std::vector<uint8_t> buffer =
      ReadTokenInformation(token, TokenPrivileges);
  if (buffer.empty())
    return std::nullopt;
  const auto* privileges =
      reinterpret_cast<const TOKEN_PRIVILEGES*>(buffer.data());
  for (DWORD index = 0; index < privileges->PrivilegeCount; ++index) {
    if (IsAdministratorsPrivilege(privileges->Privileges[index].Luid))
      return true;
  }
  return false;
}

TokenRights ReadProcessToken() {
  HANDLE raw_token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY | TOKEN_DUPLICATE,
                          &raw_token)) {
    PLOG(ERROR) << "OpenProcessToken failed";
  }
  const base::win::ScopedHandle token(raw_token);
  const std::optional<TokenRights> rights =
      token.IsValid() ? ProcessElevation::Read(token.Get()) : std::nullopt;
  // Untold: judged as the stricter case.
  return rights ? *rights : TokenRights{.elevated = true};
}

}  // namespace

// static
bool ProcessElevation::IsElevated(const TokenRights& rights) {
  if (rights.administrators_enabled || rights.system_enabled ||
      rights.administrators_privilege) {
    return true;
  }
  // A token filtered from an administrator's carries the group for deny
  // only; Windows then reports it not elevated, while Wine reports the
  // elevation of the token it was filtered from. Its enabled identities and
  // privileges, judged above, say what it may do.
  return rights.elevated && !rights.administrators_deny_only;
}

// static
std::optional<TokenRights> ProcessElevation::Read(HANDLE token) {
  const std::optional<bool> elevated = ReadElevated(token);
  const std::optional<bool> administrators =
      HoldsEnabled(token, WinBuiltinAdministratorsSid);
  const std::optional<bool> system = HoldsEnabled(token, WinLocalSystemSid);
  const std::optional<bool> deny_only = HoldsAdministratorsForDenyOnly(token);
  const std::optional<bool> privilege = HoldsAdministratorsPrivilege(token);
  if (!elevated || !administrators || !system || !deny_only || !privilege)
    return std::nullopt;
  return TokenRights{.elevated = *elevated,
                     .administrators_enabled = *administrators,
                     .system_enabled = *system,
                     .administrators_deny_only = *deny_only,
                     .administrators_privilege = *privilege};
}

// static
bool ProcessElevation::ProcessTokenIsElevated() {
  const TokenQuery query = g_token_query.load();
  return IsElevated(query ? query() : ReadProcessToken());
}

// static
std::optional<bool> ProcessElevation::HoldsEnabled(
    HANDLE token,
    WELL_KNOWN_SID_TYPE sid_type) {
  // CheckTokenMembership takes an impersonation token.
  HANDLE raw_identification = nullptr;
  if (!::DuplicateToken(token, SecurityIdentification, &raw_identification)) {
    PLOG(ERROR) << "DuplicateToken failed";
    return std::nullopt;
  }
  const base::win::ScopedHandle identification(raw_identification);
  BYTE sid[SECURITY_MAX_SID_SIZE];
  DWORD sid_size = sizeof(sid);
  if (!::CreateWellKnownSid(sid_type, nullptr, sid, &sid_size)) {
    PLOG(ERROR) << "CreateWellKnownSid failed";
    return std::nullopt;
  }
  BOOL is_member = FALSE;
  if (!::CheckTokenMembership(identification.Get(), sid, &is_member)) {
    PLOG(ERROR) << "CheckTokenMembership failed";
    return std::nullopt;
  }
  return is_member != FALSE;
}

// static
ProcessElevation::TokenQuery ProcessElevation::SetTokenQueryForTesting(
    TokenQuery query) {
  return g_token_query.exchange(query);
}

}  // namespace installer
