#include "desktop/windows/installer/recovery/journal_owner_check.h"

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <cstdint>
#include <vector>

#include "base/logging.h"
#include "base/win/scoped_handle.h"
#include "base/win/scoped_local_alloc.h"

namespace installer {

namespace {

// The service that owns the system's files.
constexpr wchar_t kTrustedInstallerSid[] =
    L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
// What lets someone put a file in a folder, or change who may.
constexpr ACCESS_MASK kWriteRights =
    FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_WRITE_DATA | FILE_APPEND_DATA |
    FILE_DELETE_CHILD | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE |
    GENERIC_ALL | MAXIMUM_ALLOWED;

using SidBuffer = std::vector<uint8_t>;

SidBuffer WellKnownSid(WELL_KNOWN_SID_TYPE type) {
  SidBuffer sid(SECURITY_MAX_SID_SIZE);
  DWORD size = static_cast<DWORD>(sid.size());
  if (!::CreateWellKnownSid(type, nullptr, sid.data(), &size)) {
    PLOG(ERROR) << "CreateWellKnownSid failed";
    return SidBuffer();
  }
  sid.resize(size);
  return sid;
}

SidBuffer SidOfText(const wchar_t* text) {
  base::win::ScopedLocalAlloc<void> sid;
  if (!::ConvertStringSidToSidW(text, sid.Receive())) {
    PLOG(ERROR) << "ConvertStringSidToSidW failed";
    return SidBuffer();
  }
  const uint8_t* bytes = static_cast<const uint8_t*>(sid.Get());
  return SidBuffer(bytes, bytes + ::GetLengthSid(sid.Get()));
}

SidBuffer CurrentUserSid() {
  HANDLE raw = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw)) {
    PLOG(ERROR) << "OpenProcessToken failed";
    return SidBuffer();
  }
  const base::win::ScopedHandle token(raw);
  DWORD size = 0;
  ::GetTokenInformation(token.Get(), TokenUser, nullptr, 0, &size);
  std::vector<uint8_t> buffer(size);
  if (size == 0 || !::GetTokenInformation(token.Get(), TokenUser, buffer.data(),
                                          size, &size)) {
    PLOG(ERROR) << "GetTokenInformation failed";
    return SidBuffer();
  }
  const PSID sid = reinterpret_cast<const TOKEN_USER*>(buffer.data())->User.Sid;
  const uint8_t* bytes = static_cast<const uint8_t*>(sid);
  return SidBuffer(bytes, bytes + ::GetLengthSid(sid));
}

bool IsOneOf(PSID sid, const std::vector<SidBuffer>& sids) {
  if (!sid)
    return false;
  for (const SidBuffer& candidate : sids) {
    if (!candidate.empty() &&
        ::EqualSid(sid, const_cast<uint8_t*>(candidate.data()))) {
      return true;
    }
  }
  return false;
}

// The owner and access list of an open file or folder, in `descriptor`.
bool ReadSecurity(const base::FilePath& path,
                  bool folder,
                  base::win::ScopedLocalAlloc<void>* descriptor,
                  PSID* owner,
                  PACL* dacl) {
  const base::win::ScopedHandle handle(::CreateFileW(
      path.value().c_str(), READ_CONTROL,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, folder ? FILE_FLAG_BACKUP_SEMANTICS : 0, nullptr));
  if (!handle.IsValid()) {
    PLOG(ERROR) << "Failed opening " << path.AsUTF8();
    return false;
  }
  const DWORD result = ::GetSecurityInfo(
      handle.Get(), SE_FILE_OBJECT,
      OWNER_SECURITY_INFORMATION | (dacl ? DACL_SECURITY_INFORMATION : 0),
      owner, nullptr, dacl, nullptr, descriptor->Receive());
  if (result != ERROR_SUCCESS || !*owner) {
    LOG(ERROR) << "Failed reading who owns " << path.AsUTF8() << ": " << result;
    return false;
  }
  return true;
}

std::vector<SidBuffer> PrivilegedSids() {
  return {WellKnownSid(WinBuiltinAdministratorsSid),
          WellKnownSid(WinLocalSystemSid), SidOfText(kTrustedInstallerSid)};
}

// Writable by the privileged alone. A missing access list lets everyone
// in.
bool OnlyPrivilegedWrite(const ACL* dacl,
                         const std::vector<SidBuffer>& privileged) {
  if (!dacl)
    return false;
  for (DWORD index = 0; index < dacl->AceCount; ++index) {
    void* ace = nullptr;
    if (!::GetAce(const_cast<ACL*>(dacl), index, &ace))
      return false;
    const ACE_HEADER* header = static_cast<const ACE_HEADER*>(ace);
    if (header->AceType == ACCESS_DENIED_ACE_TYPE ||
        (header->AceFlags & INHERIT_ONLY_ACE)) {
      continue;
    }
    // Allowing entries of other kinds are not read: taken as letting in.
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE)
      return false;
    const ACCESS_ALLOWED_ACE* allowed =
        static_cast<const ACCESS_ALLOWED_ACE*>(ace);
    if ((allowed->Mask & kWriteRights) &&
        !IsOneOf(const_cast<DWORD*>(&allowed->SidStart), privileged)) {
      return false;
    }
  }
  return true;
}

}  // namespace

bool IsTrustedJournalWriter(PSID journal_owner,
                            PSID user,
                            PSID folder_owner,
                            const ACL* folder_dacl) {
  const std::vector<SidBuffer> privileged = PrivilegedSids();
  if (IsOneOf(journal_owner, privileged) ||
      (user && ::EqualSid(journal_owner, user))) {
    return true;
  }
  return IsOneOf(folder_owner, privileged) &&
         OnlyPrivilegedWrite(folder_dacl, privileged);
}

bool IsJournalFromTrustedWriter(const base::FilePath& journal,
                                const base::FilePath& folder) {
  base::win::ScopedLocalAlloc<void> journal_security;
  base::win::ScopedLocalAlloc<void> folder_security;
  PSID journal_owner = nullptr;
  PSID folder_owner = nullptr;
  PACL folder_dacl = nullptr;
  SidBuffer user = CurrentUserSid();
  if (user.empty() || !ReadSecurity(journal, false, &journal_security,
                                    &journal_owner, nullptr)) {
    return false;
  }
  // Without the folder's security only the journal's owner can tell.
  if (!ReadSecurity(folder, true, &folder_security, &folder_owner,
                    &folder_dacl)) {
    folder_owner = nullptr;
    folder_dacl = nullptr;
  }
  return IsTrustedJournalWriter(journal_owner, user.data(), folder_owner,
                                folder_dacl);
}

}  // namespace installer
