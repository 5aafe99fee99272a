#include "desktop/windows/installer/security/administrators_folder.h"

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>


#include "base/logging.h"
#include "base/win/registry.h"
#include "base/win/scoped_handle.h"
#include "base/win/scoped_local_alloc.h"

namespace installer {

namespace {

// The service that owns the system's files.
constexpr wchar_t kTrustedInstallerSid[] =
    L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
constexpr WELL_KNOWN_SID_TYPE kPrivilegedWellKnownSids[] = {
    WinBuiltinAdministratorsSid, WinLocalSystemSid};
// What lets someone put a file in a folder, or change who may.
constexpr ACCESS_MASK kWriteRights =
    FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_WRITE_DATA | FILE_APPEND_DATA |
    FILE_DELETE_CHILD | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE |
    GENERIC_ALL | MAXIMUM_ALLOWED;

// What lets someone take away what a folder holds, or put something else
// in its place. Generic write maps to adding entries only.
constexpr ACCESS_MASK kReplaceRights = FILE_DELETE_CHILD | DELETE | WRITE_DAC |
                                       WRITE_OWNER | GENERIC_ALL |
                                       MAXIMUM_ALLOWED;

// The entries of a folder's list that give rights on the folder itself, or
// those a folder made in it inherits.
enum class Holder { kFolder, kNewFolder };

bool IsTrustedInstaller(PSID sid) {
  base::win::ScopedLocalAlloc<void> trusted_installer;
  return ::ConvertStringSidToSidW(kTrustedInstallerSid,
                                  trusted_installer.Receive()) &&
         ::EqualSid(sid, trusted_installer.Get());
}

bool IsPrivilegedOr(PSID sid, PSID trusted_user) {
  return AdministratorsFolder::IsPrivileged(sid) ||
         (sid && trusted_user && ::IsValidSid(sid) &&
          ::EqualSid(sid, trusted_user));
}

bool AppliesTo(const ACE_HEADER& header, Holder holder) {
  if (holder == Holder::kFolder)
    return !(header.AceFlags & INHERIT_ONLY_ACE);
  return (header.AceFlags & CONTAINER_INHERIT_ACE) != 0;
}

// A new folder's creator takes the place of the creator owner's entries.
bool StandsForPrivileged(PSID sid, Holder holder, PSID trusted_user) {
  return IsPrivilegedOr(sid, trusted_user) ||
         (holder == Holder::kNewFolder && ::IsValidSid(sid) &&
          ::IsWellKnownSid(sid, WinCreatorOwnerSid));
}

// Whether no entry of `dacl` that applies to `holder` grants any of
// `rights` to anyone but the privileged and `trusted_user`. A missing list
// lets everyone in.
bool OnlyPrivilegedGranted(const ACL* dacl,
                           ACCESS_MASK rights,
                           Holder holder,
                           PSID trusted_user) {
  if (!dacl)
    return false;
  for (DWORD index = 0; index < dacl->AceCount; ++index) {
    void* ace = nullptr;
    if (!::GetAce(const_cast<ACL*>(dacl), index, &ace))
      return false;
    const ACE_HEADER* header = static_cast<const ACE_HEADER*>(ace);
    if (header->AceType == ACCESS_DENIED_ACE_TYPE ||
        !AppliesTo(*header, holder)) {
      continue;
    }
    // Allowing entries of other kinds are not read: taken as letting in.
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE)
      return false;
    const ACCESS_ALLOWED_ACE* allowed =
        static_cast<const ACCESS_ALLOWED_ACE*>(ace);
    if ((allowed->Mask & rights) &&
        !StandsForPrivileged(const_cast<DWORD*>(&allowed->SidStart), holder,
                             trusted_user)) {
      return false;
    }
  }
  return true;
}

// Where the user account control is off every process of an
// administrator's account runs with the administrators' rights.
constexpr wchar_t kSystemPoliciesKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System";
constexpr wchar_t kEnableLuaValue[] = L"EnableLUA";

bool UserAccountControlIsOff() {
  base::win::RegistryKey policies;
  DWORD enabled = 1;
  return policies.Open(HKEY_LOCAL_MACHINE, kSystemPoliciesKey,
                       KEY_QUERY_VALUE | KEY_WOW64_64KEY) == ERROR_SUCCESS &&
         policies.ReadDword(kEnableLuaValue, &enabled) == ERROR_SUCCESS &&
         enabled == 0;
}

}  // namespace

// static
bool AdministratorsFolder::IsPrivileged(PSID sid) {
  if (!sid || !::IsValidSid(sid))
    return false;
  for (const WELL_KNOWN_SID_TYPE type : kPrivilegedWellKnownSids) {
    if (::IsWellKnownSid(sid, type))
      return true;
  }
  return IsTrustedInstaller(sid);
}

// static
bool AdministratorsFolder::OnlyPrivilegedWrite(const ACL* dacl,
                                               PSID trusted_user) {
  return OnlyPrivilegedGranted(dacl, kWriteRights, Holder::kFolder,
                               trusted_user);
}

// static
bool AdministratorsFolder::IsAdministrators(PSID owner,
                                            const ACL* dacl,
                                            PSID trusted_user) {
  return IsPrivilegedOr(owner, trusted_user) &&
         OnlyPrivilegedWrite(dacl, trusted_user);
}

// static
bool AdministratorsFolder::ReadOwnership(HANDLE folder, Ownership* ownership) {
  base::win::ScopedLocalAlloc<void> descriptor;
  const DWORD error = ::GetSecurityInfo(
      folder, SE_FILE_OBJECT,
      OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr, nullptr,
      nullptr, nullptr, descriptor.Receive());
  if (error != ERROR_SUCCESS) {
    LOG(ERROR) << "Cannot read a folder's owner and access list, error "
               << error;
    return false;
  }
  BYTE trusted_user_buffer[SECURITY_MAX_SID_SIZE];
  return OwnershipOf(descriptor.Get(), ReadTrustedUser(trusted_user_buffer),
                     ownership);
}

// static
bool AdministratorsFolder::OwnershipOf(PSECURITY_DESCRIPTOR descriptor,
                                       PSID trusted_user,
                                       Ownership* ownership) {
  PSID owner = nullptr;
  PACL dacl = nullptr;
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  if (!::GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) ||
      !::GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted)) {
    PLOG(ERROR) << "Cannot read a folder's owner and access list";
    return false;
  }
  if (!present)
    dacl = nullptr;
  ownership->trusted_owner = IsPrivilegedOr(owner, trusted_user);
  ownership->administrators = IsAdministrators(owner, dacl, trusted_user);
  ownership->keeps_entries =
      ownership->trusted_owner &&
      OnlyPrivilegedGranted(dacl, kReplaceRights, Holder::kFolder,
                            trusted_user);
  ownership->new_folders_keep_entries = OnlyPrivilegedGranted(
      dacl, kReplaceRights, Holder::kNewFolder, trusted_user);
  return true;
}

// static
PSID AdministratorsFolder::ReadTrustedUser(
    BYTE (&buffer)[SECURITY_MAX_SID_SIZE]) {
  if (!UserAccountControlIsOff())
    return nullptr;
  HANDLE raw = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw)) {
    PLOG(ERROR) << "OpenProcessToken failed";
    return nullptr;
  }
  const base::win::ScopedHandle token(raw);
  BYTE user[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  DWORD size = 0;
  if (!::GetTokenInformation(token.Get(), TokenUser, user, sizeof(user),
                             &size)) {
    PLOG(ERROR) << "Cannot read the token's user";
    return nullptr;
  }
  const PSID sid = reinterpret_cast<const TOKEN_USER*>(user)->User.Sid;
  if (!::CopySid(sizeof(buffer), buffer, sid))
    return nullptr;
  return buffer;
}

// static
bool AdministratorsFolder::Protect(HANDLE folder) {
  base::win::ScopedLocalAlloc<void> descriptor;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(
          kSecurityDescriptor, SDDL_REVISION_1, descriptor.Receive(),
          nullptr)) {
    PLOG(ERROR) << "Cannot make the administrators' access list";
    return false;
  }
  PSID owner = nullptr;
  PACL dacl = nullptr;
  BOOL defaulted = FALSE;
  BOOL present = FALSE;
  if (!::GetSecurityDescriptorOwner(descriptor.Get(), &owner, &defaulted) ||
      !::GetSecurityDescriptorDacl(descriptor.Get(), &present, &dacl,
                                   &defaulted)) {
    PLOG(ERROR) << "Cannot read the administrators' access list";
    return false;
  }
  DWORD error = ::SetSecurityInfo(
      folder, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, owner, nullptr,
      nullptr, nullptr);
  if (error != ERROR_SUCCESS)
    LOG(WARNING) << "Cannot give the folder to the administrators, error "
                 << error;
  error = ::SetSecurityInfo(
      folder, SE_FILE_OBJECT,
      DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr,
      nullptr, dacl, nullptr);
  if (error != ERROR_SUCCESS) {
    LOG(ERROR) << "Cannot write the administrators' access list, error "
               << error;
    return false;
  }
  return true;
}

}  // namespace installer
