#include "desktop/windows/installer/entry/folder_grant_check.h"

#include <windows.h>

#include <knownfolders.h>
#include <shlobj.h>

#include <algorithm>
#include <utility>

#include "base/logging.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/version.h"
#include "desktop/windows/installer/install_log/install_log.h"
#include "desktop/windows/installer/paths/local_path.h"
#include "desktop/windows/installer/product/package_file_names.h"

namespace installer {

namespace {

// Folders of the system and of all users that no grant may reach, though
// an installation may go inside some of them.
constexpr const KNOWNFOLDERID* kSystemKnownFolders[] = {
    &FOLDERID_Windows,
    &FOLDERID_System,
    &FOLDERID_SystemX86,
    &FOLDERID_ProgramFiles,
    &FOLDERID_ProgramFilesX86,
    &FOLDERID_ProgramFilesX64,
    &FOLDERID_ProgramFilesCommon,
    &FOLDERID_ProgramFilesCommonX86,
    &FOLDERID_ProgramFilesCommonX64,
    &FOLDERID_ProgramData,
    &FOLDERID_UserProfiles,
    &FOLDERID_Profile,
    &FOLDERID_Public,
};

// The files an installation of the product keeps directly in its folder.
constexpr const wchar_t* kProductFileNames[] = {
    kInstallLogName,        kFormerInstallLogName,   kLauncherName,
    kPackageInstallerName,  kInstallerLibraryName,   kInstallerHelperName,
    kInstallerHelper64Name, kServerTrackingDataName, kPrefDefaultOverridesName,
    kInstallerPrefsName,    kUninstallBatchName,
};

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

bool IsNamed(const std::wstring& name, const wchar_t* product_name) {
  return ToUpperOrdinal(name) == ToUpperOrdinal(product_name);
}

// "<version>" or "<version>_<n>", as the installation names the folder of
// each version it holds.
bool IsVersionFolderName(const std::wstring& name) {
  if (!base::IsStringAscii(name))
    return false;
  std::string text = base::WideToAscii(name);
  const size_t suffix = text.find('_');
  if (suffix != std::string::npos) {
    const std::string counter = text.substr(suffix + 1);
    if (counter.empty() || counter.size() > 9 ||
        !std::all_of(counter.begin(), counter.end(),
                     [](char c) { return c >= '0' && c <= '9'; })) {
      return false;
    }
    text.resize(suffix);
  }
  const base::Version version(text);
  return version.IsValid() && version.components().size() == 4;
}

bool IsProductEntry(const FolderGrantCheck::Entry& entry) {
  if (entry.attributes & FILE_ATTRIBUTE_DIRECTORY)
    return IsVersionFolderName(entry.name) ||
           IsNamed(entry.name, kOldStatusFolder);
  return std::any_of(
      std::begin(kProductFileNames), std::end(kProductFileNames),
      [&](const wchar_t* name) { return IsNamed(entry.name, name); });
}

bool IsInstallLog(const FolderGrantCheck::Entry& entry) {
  return !(entry.attributes & FILE_ATTRIBUTE_DIRECTORY) &&
         (IsNamed(entry.name, kInstallLogName) ||
          IsNamed(entry.name, kFormerInstallLogName));
}

base::FilePath GetKnownFolder(const KNOWNFOLDERID& id) {
  wchar_t* path = nullptr;
  const HRESULT result = ::SHGetKnownFolderPath(id, 0, nullptr, &path);
  base::FilePath folder;
  if (SUCCEEDED(result))
    folder = ResolveLocalPath(base::FilePath(path));
  ::CoTaskMemFree(path);
  return folder;
}

}  // namespace

FolderGrantCheck::FolderGrantCheck(SystemFolders system_folders)
    : system_folders_(std::move(system_folders)) {}

FolderGrantCheck::~FolderGrantCheck() = default;

FolderGrantCheck::FolderGrantCheck(FolderGrantCheck&&) = default;

// static
FolderGrantCheck FolderGrantCheck::ForThisSystem() {
  SystemFolders folders;
  folders.windows = GetKnownFolder(FOLDERID_Windows);
  folders.user_profiles = GetKnownFolder(FOLDERID_UserProfiles);
  for (const KNOWNFOLDERID* id : kSystemKnownFolders) {
    // A 32-bit system has no second Program Files, for one.
    base::FilePath folder = GetKnownFolder(*id);
    if (!folder.empty())
      folders.known.push_back(std::move(folder));
  }
  return FolderGrantCheck(std::move(folders));
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
  if (system_folders_.windows.empty() || system_folders_.user_profiles.empty())
    return true;
  if (IsSameFolder(folder, system_folders_.windows) ||
      IsBelowFolder(folder, system_folders_.windows) ||
      IsSameFolder(folder, system_folders_.user_profiles) ||
      IsSameFolder(folder.DirName(), system_folders_.user_profiles)) {
    return true;
  }
  return std::any_of(
      system_folders_.known.begin(), system_folders_.known.end(),
      [&](const base::FilePath& known) { return IsSameFolder(folder, known); });
}

// static
GrantRefusal FolderGrantCheck::JudgeContents(
    const std::vector<Entry>& entries) {
  bool foreign = false;
  for (const Entry& entry : entries) {
    if (entry.attributes & FILE_ATTRIBUTE_REPARSE_POINT)
      return GrantRefusal::kLink;
    foreign = foreign || !IsProductEntry(entry);
  }
  // The files an installation keeps beside its own vary with its package
  // (its root files): its install log is what marks it as one.
  if (foreign && std::none_of(entries.begin(), entries.end(), IsInstallLog))
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
      return "it is a folder of the system or of all users";
    case GrantRefusal::kLink:
      return "it, a folder above it or something in it is a link or another "
             "reparse point";
    case GrantRefusal::kForeignContents:
      return "it holds files that are not an installation of the product";
    case GrantRefusal::kUnreadable:
      return "it cannot be opened or read";
  }
  return "unknown";
}

}  // namespace installer
