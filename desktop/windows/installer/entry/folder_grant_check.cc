#include "desktop/windows/installer/entry/folder_grant_check.h"

#include <windows.h>

#include <knownfolders.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <algorithm>
#include <utility>

#include "base/logging.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/com_ptr.h"
#include "base/win/scoped_co_mem.h"
#include "desktop/windows/installer/paths/local_path.h"
#include "desktop/windows/installer/system/utils.h"

namespace installer {

namespace {

// Folders that hold the system's or every user's own files: no grant may
// reach them or anything below them.
constexpr const KNOWNFOLDERID* kSystemTreeFolders[] = {
    &FOLDERID_Windows,      &FOLDERID_StartMenu,       &FOLDERID_Startup,
    &FOLDERID_CommonStartMenu, &FOLDERID_CommonStartup,
};
constexpr CLSID kKnownFolderManagerClass = {
    0x4df0c730, 0xdf9d, 0x4ae3, {0x91, 0x53, 0xaa, 0x6b, 0x82, 0xe9, 0x79, 0x5a}};
// ProgramData's own folder of the system, below which no installation
// goes.
constexpr wchar_t kProgramDataSystemFolder[] = L"Microsoft";

// Accounts of one machine or domain ("S-1-5-21-<domain>-<rid>") and of a
// directory in the cloud ("S-1-12-1-..."): the forms a person's own
// account takes. Every built-in group and service identity lies outside.
struct AccountDomain {
  BYTE authority;
  DWORD first_sub_authority;
  BYTE min_sub_authorities;
};
constexpr AccountDomain kPersonalAccountDomains[] = {
    {5, SECURITY_NT_NON_UNIQUE, 5},
    {12, 1, 5},
};

// Accounts of a machine or domain that anyone may use or that serve the
// system rather than a person.
constexpr DWORD kSharedAccountRids[] = {
    DOMAIN_USER_RID_GUEST, DOMAIN_USER_RID_KRBTGT,
    503,  // DefaultAccount
    504,  // WDAGUtilityAccount
};

bool IsSameFolder(const base::FilePath& a, const base::FilePath& b) {
  return !a.empty() && !b.empty() &&
         ToUpperOrdinal(a.value()) == ToUpperOrdinal(b.value());
}

bool IsDriveRoot(const base::FilePath& folder) {
  // The resolved form of a root is "X:\", of anything else longer.
  return folder.value().size() <= 3;
}

const AccountDomain* FindAccountDomain(PSID sid) {
  const SID_IDENTIFIER_AUTHORITY* authority = ::GetSidIdentifierAuthority(sid);
  const BYTE count = *::GetSidSubAuthorityCount(sid);
  if (count == 0 || authority->Value[0] || authority->Value[1] ||
      authority->Value[2] || authority->Value[3] || authority->Value[4]) {
    return nullptr;
  }
  for (const AccountDomain& domain : kPersonalAccountDomains) {
    if (authority->Value[5] == domain.authority &&
        *::GetSidSubAuthority(sid, 0) == domain.first_sub_authority &&
        count >= domain.min_sub_authorities) {
      return &domain;
    }
  }
  return nullptr;
}

bool IsSharedAccount(PSID sid) {
  const DWORD rid =
      *::GetSidSubAuthority(sid, *::GetSidSubAuthorityCount(sid) - 1);
  return std::find(std::begin(kSharedAccountRids), std::end(kSharedAccountRids),
                   rid) != std::end(kSharedAccountRids);
}

// Every known folder the system lists that has a place on a local drive:
// a fixed list would miss those that later systems or other programs add.
std::vector<base::FilePath> GetEveryKnownFolder() {
  std::vector<base::FilePath> folders;
  base::win::ComPtr<IKnownFolderManager> manager;
  base::win::ScopedCoMem<KNOWNFOLDERID> ids;
  UINT count = 0;
  HRESULT result = manager.CreateInstance(kKnownFolderManagerClass);
  if (SUCCEEDED(result))
    result = manager->GetFolderIds(ids.Receive(), &count);
  if (FAILED(result) || !ids.Get()) {
    LOG(ERROR) << "Cannot list the known folders, error 0x" << std::hex
               << result;
    return folders;
  }
  for (UINT i = 0; i < count; ++i) {
    base::FilePath folder = GetResolvedKnownFolder(ids.Get()[i]);
    if (!folder.empty())
      folders.push_back(std::move(folder));
  }
  return folders;
}

bool IsSameOrBelow(const base::FilePath& folder, const base::FilePath& tree) {
  return IsSameFolder(folder, tree) || IsBelowFolder(folder, tree);
}

}  // namespace

FolderGrantCheck::FolderGrantCheck(SystemFolders system_folders,
                                   UserProfiles profiles,
                                   const std::wstring& trustee_sid)
    : system_folders_(std::move(system_folders)),
      profiles_(std::move(profiles)),
      trustee_profile_(profiles_.FolderOf(trustee_sid)) {}

FolderGrantCheck::~FolderGrantCheck() = default;

FolderGrantCheck::FolderGrantCheck(FolderGrantCheck&&) = default;

// static
FolderGrantCheck FolderGrantCheck::ForThisSystem(
    const std::wstring& trustee_sid) {
  SystemFolders folders;
  folders.known = GetEveryKnownFolder();
  for (const KNOWNFOLDERID* id : kSystemTreeFolders) {
    base::FilePath folder = GetResolvedKnownFolder(*id);
    if (!folder.empty())
      folders.trees.push_back(std::move(folder));
  }
  const base::FilePath program_data = GetResolvedKnownFolder(FOLDERID_ProgramData);
  if (!program_data.empty())
    folders.trees.push_back(program_data.Append(kProgramDataSystemFolder));
  return FolderGrantCheck(std::move(folders), UserProfiles::Read(),
                          trustee_sid);
}

// static
GrantRefusal FolderGrantCheck::JudgeTrustee(PSID sid, SID_NAME_USE use) {
  if (!sid || !::IsValidSid(sid) || use != SidTypeUser ||
      !FindAccountDomain(sid) || IsSharedAccount(sid)) {
    return GrantRefusal::kTrusteeNotOneUser;
  }
  return GrantRefusal::kNone;
}

GrantRefusal FolderGrantCheck::JudgePath(const base::FilePath& folder) const {
  if (folder.empty())
    return GrantRefusal::kNotLocalPath;
  if (IsDriveRoot(folder))
    return GrantRefusal::kDriveRoot;
  if (IsSystemFolder(folder))
    return GrantRefusal::kSystemFolder;
  return GrantRefusal::kNone;
}

bool FolderGrantCheck::IsSystemFolder(const base::FilePath& folder) const {
  // Without them nothing can be told apart from them.
  if (system_folders_.known.empty() || system_folders_.trees.empty() ||
      profiles_.profiles_folder().empty()) {
    return true;
  }
  const auto is_folder = [&](const base::FilePath& known) {
    return IsSameFolder(folder, known);
  };
  const auto is_in_tree = [&](const base::FilePath& tree) {
    return IsSameOrBelow(folder, tree);
  };
  if (std::any_of(system_folders_.known.begin(), system_folders_.known.end(),
                  is_folder) ||
      std::any_of(system_folders_.trees.begin(), system_folders_.trees.end(),
                  is_in_tree)) {
    return true;
  }
  // Within profiles only below the trustee's own, never the profile itself.
  return profiles_.Holds(folder) &&
         !(!trustee_profile_.empty() && IsBelowFolder(folder, trustee_profile_));
}

// static
GrantRefusal FolderGrantCheck::JudgeContents(const std::vector<Entry>& entries,
                                             bool recorded) {
  for (const Entry& entry : entries) {
    if (entry.attributes & FILE_ATTRIBUTE_REPARSE_POINT)
      return GrantRefusal::kLink;
  }
  if (!entries.empty() && !recorded)
    return GrantRefusal::kForeignContents;
  return GrantRefusal::kNone;
}

// static
const char* FolderGrantCheck::Describe(GrantRefusal refusal) {
  switch (refusal) {
    case GrantRefusal::kNone:
      return "it may be granted";
    case GrantRefusal::kTrusteeNotOneUser:
      return "the trustee is not one user's own account";
    case GrantRefusal::kNotLocalPath:
      return "it is not a plain path of a local drive";
    case GrantRefusal::kDriveRoot:
      return "it is the root of a drive";
    case GrantRefusal::kSystemFolder:
      return "it is a folder of the system or of all users, or in another "
             "user's profile";
    case GrantRefusal::kLink:
      return "it, a folder above it or something in it is a link or another "
             "reparse point";
    case GrantRefusal::kForeignContents:
      return "it holds files that are not an installation of the product "
             "that this machine records";
    case GrantRefusal::kHardLink:
      return "a file in it is a hard link";
    case GrantRefusal::kUnreadable:
      return "it cannot be opened or read";
  }
  return "unknown";
}

}  // namespace installer
