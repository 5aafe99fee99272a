#include "desktop/windows/installer/recovery/journal_owner_check.h"

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <cstdint>
#include <vector>

#include "base/logging.h"
#include "base/win/scoped_handle.h"
#include "base/win/scoped_local_alloc.h"
#include "desktop/windows/installer/security/administrators_folder.h"
#include "desktop/windows/installer/security/parent_folders_check.h"
#include "desktop/windows/installer/system/process_elevation.h"

namespace installer {

namespace {

using SidBuffer = std::vector<uint8_t>;

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

}  // namespace

bool IsTrustedJournalWriter(PSID journal_owner,
                            PSID user,
                            PSID folder_owner,
                            const ACL* folder_dacl,
                            bool parents_kept) {
  if (AdministratorsFolder::IsPrivileged(journal_owner) ||
      (journal_owner && user && ::EqualSid(journal_owner, user))) {
    return true;
  }
  return AdministratorsFolder::IsPrivileged(folder_owner) &&
         AdministratorsFolder::OnlyPrivilegedWrite(folder_dacl) &&
         parents_kept;
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
  if (IsTrustedJournalWriter(journal_owner, user.data(), nullptr, nullptr,
                             false)) {
    return true;
  }
  // Without the folder's security only the journal's owner can tell.
  if (!ReadSecurity(folder, true, &folder_security, &folder_owner,
                    &folder_dacl)) {
    return false;
  }
  return IsTrustedJournalWriter(
      journal_owner, user.data(), folder_owner, folder_dacl,
      ParentFoldersCheck::Judge(folder) == ParentFoldersCheck::Verdict::kKept);
}

bool MayActOnRecord(const base::FilePath& record,
                    const base::FilePath& folder) {
  return !ProcessElevation::ProcessTokenIsElevated() ||
         IsJournalFromTrustedWriter(record, folder);
}

}  // namespace installer
