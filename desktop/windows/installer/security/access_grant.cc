// Granting the current user access to a file, folder or registry key, and
// giving the object its previous access list back. Results only: the callers
// log what a refusal means for them.

#include <windows.h>

#include <aclapi.h>

#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/win/access_list.h"
#include "base/win/registry.h"
#include "base/win/scoped_handle.h"
#include "base/win/scoped_local_alloc.h"
#include "desktop/windows/installer/security/access_permissions.h"
#include "desktop/windows/installer/security/registry_object_name.h"

namespace installer {

namespace {

using ScopedLocalMemory = base::win::ScopedLocalAlloc<>;

// The SIDs a deny entry can hold against this process: the token's user and
// every group that is enabled or kept for denial only.
class TokenIdentity {
 public:
  bool Read() {
    HANDLE raw_token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw_token))
      return false;
    base::win::ScopedHandle token(raw_token);
    return ReadInformation(token.Get(), TokenUser, &user_) &&
           ReadInformation(token.Get(), TokenGroups, &groups_);
  }

  PSID user() const {
    return reinterpret_cast<const TOKEN_USER*>(user_.data())->User.Sid;
  }

  bool Matches(PSID sid) const {
    if (::EqualSid(sid, user()))
      return true;
    const auto* groups = reinterpret_cast<const TOKEN_GROUPS*>(groups_.data());
    for (DWORD i = 0; i < groups->GroupCount; ++i) {
      const SID_AND_ATTRIBUTES& group = groups->Groups[i];
      if ((group.Attributes &
           (SE_GROUP_ENABLED | SE_GROUP_USE_FOR_DENY_ONLY)) != 0 &&
          ::EqualSid(sid, group.Sid)) {
        return true;
      }
    }
    return false;
  }

 private:
  static bool ReadInformation(HANDLE token,
                              TOKEN_INFORMATION_CLASS information_class,
                              std::vector<BYTE>* out) {
    DWORD size = 0;
    ::GetTokenInformation(token, information_class, nullptr, 0, &size);
    if (size == 0)
      return false;
    out->resize(size);
    return ::GetTokenInformation(token, information_class, out->data(), size,
                                 &size) != FALSE;
  }

  std::vector<BYTE> user_;
  std::vector<BYTE> groups_;
};

// Registry keys are opened here, in the view that their object type names,
// and their security is read and written through the handle: the name
// lookup of the security functions ignores the process's overridden roots,
// and on some systems (Wine) answers for the 32-bit view without acting.
LONG OpenRegistryObject(const std::wstring& object_name,
                        int object_type,
                        REGSAM access,
                        base::win::RegistryKey* key) {
  HKEY root = nullptr;
  std::wstring key_path;
  REGSAM view = 0;
  if (!ParseRegistryObjectName(object_name, object_type, &root, &key_path,
                               &view)) {
    return ERROR_INVALID_NAME;
  }
  return key->Open(root, key_path.c_str(), access | view);
}

DWORD ReadAccessList(const std::wstring& object_name,
                     int object_type,
                     PACL* dacl,
                     ScopedLocalMemory* descriptor) {
  return ReadSecurity(object_name, object_type, DACL_SECURITY_INFORMATION,
                      dacl, descriptor->Receive());
}

DWORD WriteSecurity(const std::wstring& object_name,
                    int object_type,
                    SECURITY_INFORMATION information,
                    PSID owner,
                    PACL dacl) {
  if (!IsRegistryObjectType(object_type)) {
    return ::SetNamedSecurityInfoW(const_cast<wchar_t*>(object_name.c_str()),
                                   static_cast<SE_OBJECT_TYPE>(object_type),
                                   information, owner, nullptr, dacl, nullptr);
  }
  const REGSAM access =
      (information & OWNER_SECURITY_INFORMATION) ? WRITE_OWNER : WRITE_DAC;
  base::win::RegistryKey key;
  const LONG error = OpenRegistryObject(object_name, object_type, access, &key);
  if (error != ERROR_SUCCESS)
    return static_cast<DWORD>(error);
  return ::SetSecurityInfo(key.Handle(), SE_REGISTRY_KEY, information, owner,
                           nullptr, dacl, nullptr);
}

// Writing an access list without saying whether it is protected from
// inheritance makes it inherit: keep what the descriptor says.
SECURITY_INFORMATION AccessListInformation(PSECURITY_DESCRIPTOR descriptor) {
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  ::GetSecurityDescriptorControl(descriptor, &control, &revision);
  return DACL_SECURITY_INFORMATION |
         ((control & SE_DACL_PROTECTED)
              ? PROTECTED_DACL_SECURITY_INFORMATION
              : UNPROTECTED_DACL_SECURITY_INFORMATION);
}

// The grant alone, merged with the explicit entries of `dacl`, from whose
// deny entries against this process the granted bits are taken out.
bool BuildGrantingAccessList(PACL dacl,
                             const TokenIdentity& identity,
                             DWORD access_mask,
                             base::win::ScopedLocalAlloc<ACL>* new_dacl) {
  ULONG count = 0;
  base::win::ScopedLocalAlloc<EXPLICIT_ACCESS_W> entries;
  if (dacl && ::GetExplicitEntriesFromAclW(dacl, &count, entries.Receive()) !=
                  ERROR_SUCCESS) {
    return false;
  }
  for (ULONG i = 0; i < count; ++i) {
    EXPLICIT_ACCESS_W& entry = entries.Get()[i];
    if (entry.grfAccessMode == DENY_ACCESS &&
        entry.Trustee.TrusteeForm == TRUSTEE_IS_SID &&
        identity.Matches(reinterpret_cast<PSID>(entry.Trustee.ptstrName))) {
      entry.grfAccessPermissions &= ~access_mask;
    }
  }

  // By SID: a bare logon name can resolve to another account (a domain user
  // and a local one of the same name).
  const base::win::ScopedLocalAlloc<ACL> grant_only =
      base::win::AddAccessAllowedEntry(nullptr, identity.user(), access_mask,
                                       SUB_CONTAINERS_AND_OBJECTS_INHERIT);
  if (!grant_only)
    return false;
  return ::SetEntriesInAclW(count, entries.Get(), grant_only.Get(),
                            new_dacl->Receive()) == ERROR_SUCCESS;
}

std::vector<uint8_t> AccessListBytes(PACL dacl) {
  if (!dacl)
    return {};
  const auto* bytes = reinterpret_cast<const uint8_t*>(dacl);
  return std::vector<uint8_t>(bytes, bytes + dacl->AclSize);
}

std::wstring GrantKey(const std::wstring& object_name, int object_type) {
  std::wstring key = std::to_wstring(object_type) + L":" + object_name;
  ::CharUpperBuffW(key.data(), static_cast<DWORD>(key.size()));
  return key;
}

// The grants this process keeps records of, per object: the descriptor from
// before the first of them and the list that the latest one wrote. A grant
// over that latest list keeps the first descriptor instead of the granted
// one, so that the object gets its own list back whichever record is given
// back first: a committed transaction destroys its operations oldest first,
// and two of them may have granted on the same key.
class KeptGrants {
 public:
  static KeptGrants& Get() {
    static KeptGrants instance;
    return instance;
  }

  // A copy of the first descriptor when `current` is what the latest kept
  // grant on the object wrote; else null.
  ScopedLocalMemory FindFirstDescriptor(const std::wstring& key, PACL current) {
    std::lock_guard<std::mutex> hold(lock_);
    auto entry = entries_.find(key);
    if (entry == entries_.end() ||
        entry->second.written != AccessListBytes(current)) {
      return ScopedLocalMemory();
    }
    const std::vector<uint8_t>& first = entry->second.first;
    ScopedLocalMemory copy(::LocalAlloc(LMEM_FIXED, first.size()));
    if (copy)
      std::memcpy(copy.Get(), first.data(), first.size());
    return copy;
  }

  void Record(const std::wstring& key,
              PSECURITY_DESCRIPTOR kept,
              std::vector<uint8_t> written) {
    std::lock_guard<std::mutex> hold(lock_);
    Entry& entry = entries_[key];
    const auto* bytes = static_cast<const uint8_t*>(kept);
    entry.first.assign(bytes, bytes + ::GetSecurityDescriptorLength(kept));
    entry.written = std::move(written);
    ++entry.records;
  }

  void Release(const std::wstring& key) {
    std::lock_guard<std::mutex> hold(lock_);
    auto entry = entries_.find(key);
    if (entry != entries_.end() && --entry->second.records <= 0)
      entries_.erase(entry);
  }

 private:
  struct Entry {
    std::vector<uint8_t> first;
    std::vector<uint8_t> written;
    int records = 0;
  };

  std::mutex lock_;
  std::map<std::wstring, Entry> entries_;
};

// The record of a grant that wrote over `previous`: it keeps `previous`, or
// the first descriptor when the list was one of our own grants.
std::unique_ptr<SavedSecurityInfo> KeepGrant(const std::wstring& object_name,
                                             int object_type,
                                             ScopedLocalMemory previous,
                                             PACL previous_dacl) {
  const std::wstring key = GrantKey(object_name, object_type);
  KeptGrants& grants = KeptGrants::Get();
  if (ScopedLocalMemory first = grants.FindFirstDescriptor(key, previous_dacl))
    previous = std::move(first);
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL kept_dacl = nullptr;
  ::GetSecurityDescriptorDacl(previous.Get(), &present, &kept_dacl,
                              &defaulted);
  PACL written = nullptr;
  ScopedLocalMemory written_descriptor;
  ReadAccessList(object_name, object_type, &written, &written_descriptor);
  grants.Record(key, previous.Get(), AccessListBytes(written));

  auto record = std::make_unique<SavedSecurityInfo>();
  record->object_name = object_name;
  record->object_type = object_type;
  record->dacl = present ? kept_dacl : nullptr;
  record->security_descriptor = std::move(previous);
  return record;
}

// Runs `write_owner` with the Administrators group's SID and the
// take-ownership privilege enabled, which lets an administrator make that
// group the owner of what it may not otherwise change.
template <typename WriteOwner>
bool WithTakeOwnershipPrivilege(WriteOwner write_owner) {
  HANDLE raw_token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(),
                          TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &raw_token)) {
    return false;
  }
  base::win::ScopedHandle token(raw_token);
  if (!EnablePrivilege(SE_TAKE_OWNERSHIP_NAME, true, token.Get()))
    return false;
  BYTE administrators[SECURITY_MAX_SID_SIZE];
  DWORD size = sizeof(administrators);
  const bool owned = ::CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr,
                                          administrators, &size) &&
                     write_owner(static_cast<PSID>(administrators));
  EnablePrivilege(SE_TAKE_OWNERSHIP_NAME, false, token.Get());
  return owned;
}

// `file` reopened as itself, links not followed, shared with everyone: the
// same object whatever its name leads to now.
base::win::ScopedHandle Reopen(HANDLE file, DWORD access) {
  return base::win::ScopedHandle(::ReOpenFile(
      file, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT));
}

}  // namespace

DWORD ReadSecurity(const std::wstring& object_name,
                   int object_type,
                   SECURITY_INFORMATION information,
                   PACL* dacl,
                   PSECURITY_DESCRIPTOR* descriptor) {
  *descriptor = nullptr;
  DWORD error = ERROR_SUCCESS;
  if (IsRegistryObjectType(object_type)) {
    base::win::RegistryKey key;
    error = static_cast<DWORD>(
        OpenRegistryObject(object_name, object_type, READ_CONTROL, &key));
    if (error == ERROR_SUCCESS) {
      error = ::GetSecurityInfo(key.Handle(), SE_REGISTRY_KEY, information,
                                nullptr, nullptr, dacl, nullptr, descriptor);
    }
  } else {
    error = ::GetNamedSecurityInfoW(
        object_name.c_str(), static_cast<SE_OBJECT_TYPE>(object_type),
        information, nullptr, nullptr, dacl, nullptr, descriptor);
  }
  if (error == ERROR_SUCCESS && !*descriptor)
    error = ERROR_INVALID_SECURITY_DESCR;
  return error;
}

SavedSecurityInfo::SavedSecurityInfo() = default;

SavedSecurityInfo::~SavedSecurityInfo() {
  if (security_descriptor)
    KeptGrants::Get().Release(GrantKey(object_name, object_type));
}

bool EnablePrivilege(const wchar_t* privilege, bool enable, HANDLE token) {
  TOKEN_PRIVILEGES privileges = {};
  privileges.PrivilegeCount = 1;
  if (!::LookupPrivilegeValueW(nullptr, privilege,
                               &privileges.Privileges[0].Luid)) {
    return false;
  }
  privileges.Privileges[0].Attributes = enable ? SE_PRIVILEGE_ENABLED : 0;
  if (!::AdjustTokenPrivileges(token, FALSE, &privileges, sizeof(privileges),
                               nullptr, nullptr)) {
    return false;
  }
  // Success is also reported for a privilege the token does not hold.
  return ::GetLastError() != ERROR_NOT_ALL_ASSIGNED;
}

bool TakeOwnership(const std::wstring& object_name, int object_type) {
  return WithTakeOwnershipPrivilege([&](PSID administrators) {
    return WriteSecurity(object_name, object_type, OWNER_SECURITY_INFORMATION,
                         administrators, nullptr) == ERROR_SUCCESS;
  });
}

bool GrantAccessToCurrentUser(const std::wstring& object_name,
                              int object_type,
                              DWORD access_mask,
                              bool keep_previous,
                              std::unique_ptr<SavedSecurityInfo>* saved) {
  if (saved)
    saved->reset();
  TokenIdentity identity;
  if (!identity.Read())
    return false;

  PACL previous_dacl = nullptr;
  ScopedLocalMemory previous;
  DWORD error =
      ReadAccessList(object_name, object_type, &previous_dacl, &previous);
  if (error == ERROR_ACCESS_DENIED) {
    if (!TakeOwnership(object_name, object_type))
      return false;
    error = ReadAccessList(object_name, object_type, &previous_dacl, &previous);
  }
  if (error != ERROR_SUCCESS)
    return false;

  base::win::ScopedLocalAlloc<ACL> new_dacl;
  if (!BuildGrantingAccessList(previous_dacl, identity, access_mask,
                               &new_dacl)) {
    return false;
  }
  const SECURITY_INFORMATION information =
      AccessListInformation(previous.Get());
  PACL granting = new_dacl.Get();
  error =
      WriteSecurity(object_name, object_type, information, nullptr, granting);
  if (error == ERROR_ACCESS_DENIED && TakeOwnership(object_name, object_type))
    error =
        WriteSecurity(object_name, object_type, information, nullptr, granting);
  if (error != ERROR_SUCCESS)
    return false;

  if (keep_previous && saved) {
    *saved =
        KeepGrant(object_name, object_type, std::move(previous), previous_dacl);
  }
  return true;
}

namespace {

// Adds the grant to the list of the file open on `object` (with
// READ_CONTROL and WRITE_DAC); the list it had is left in `previous`.
bool GrantOnHandle(HANDLE object,
                   const TokenIdentity& identity,
                   DWORD access_mask,
                   PACL* previous_dacl,
                   ScopedLocalMemory* previous) {
  if (::GetSecurityInfo(object, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                        nullptr, nullptr, previous_dacl, nullptr,
                        previous->Receive()) != ERROR_SUCCESS ||
      !*previous) {
    return false;
  }
  base::win::ScopedLocalAlloc<ACL> new_dacl;
  return BuildGrantingAccessList(*previous_dacl, identity, access_mask,
                                 &new_dacl) &&
         ::SetSecurityInfo(object, SE_FILE_OBJECT,
                           AccessListInformation(previous->Get()), nullptr,
                           nullptr, new_dacl.Get(),
                           nullptr) == ERROR_SUCCESS;
}

}  // namespace

bool GrantAccessToCurrentUserThroughHandle(HANDLE object, DWORD access_mask) {
  TokenIdentity identity;
  if (!identity.Read())
    return false;
  PACL previous_dacl = nullptr;
  ScopedLocalMemory previous;
  return GrantOnHandle(object, identity, access_mask, &previous_dacl,
                       &previous);
}

bool GrantAccessToCurrentUserThroughFile(
    HANDLE file,
    DWORD access_mask,
    std::unique_ptr<SavedSecurityInfo>* saved) {
  if (saved)
    saved->reset();
  TokenIdentity identity;
  if (!identity.Read())
    return false;
  constexpr DWORD kListAccess = READ_CONTROL | WRITE_DAC;
  base::win::ScopedHandle list_handle = Reopen(file, kListAccess);
  if (!list_handle.IsValid()) {
    // The owner may always read and write the list.
    if (::GetLastError() != ERROR_ACCESS_DENIED ||
        !WithTakeOwnershipPrivilege([file](PSID administrators) {
          const base::win::ScopedHandle owner_handle =
              Reopen(file, WRITE_OWNER);
          return owner_handle.IsValid() &&
                 ::SetSecurityInfo(owner_handle.Get(), SE_FILE_OBJECT,
                                   OWNER_SECURITY_INFORMATION, administrators,
                                   nullptr, nullptr,
                                   nullptr) == ERROR_SUCCESS;
        })) {
      return false;
    }
    list_handle = Reopen(file, kListAccess);
    if (!list_handle.IsValid())
      return false;
  }
  PACL previous_dacl = nullptr;
  ScopedLocalMemory previous;
  if (!GrantOnHandle(list_handle.Get(), identity, access_mask, &previous_dacl,
                     &previous)) {
    return false;
  }
  if (saved) {
    // Kept with no name: it goes back only through a handle of the file.
    auto record = std::make_unique<SavedSecurityInfo>();
    record->object_type = SE_FILE_OBJECT;
    record->dacl = previous_dacl;
    record->security_descriptor = std::move(previous);
    *saved = std::move(record);
  }
  return true;
}

bool RestoreSecurityInfoThroughFile(HANDLE file,
                                    const SavedSecurityInfo* saved) {
  if (!saved || !saved->security_descriptor)
    return false;
  const base::win::ScopedHandle list_handle = Reopen(file, WRITE_DAC);
  return list_handle.IsValid() &&
         ::SetSecurityInfo(
             list_handle.Get(), SE_FILE_OBJECT,
             AccessListInformation(saved->security_descriptor.Get()), nullptr,
             nullptr, saved->dacl, nullptr) == ERROR_SUCCESS;
}

bool RestoreSecurityInfo(const SavedSecurityInfo* saved) {
  if (!saved || !saved->security_descriptor)
    return false;
  return WriteSecurity(saved->object_name, saved->object_type,
                       AccessListInformation(saved->security_descriptor.Get()),
                       nullptr, saved->dacl) == ERROR_SUCCESS;
}

}  // namespace installer
