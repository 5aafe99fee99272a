#include "desktop/windows/installer/settings/all_users_folder_check.h"

#include <windows.h>

#include "base/files/file_enumerator.h"
#include "base/logging.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/paths/local_path.h"
#include "desktop/windows/installer/product/installer_string_ids.h"
#include "desktop/windows/installer/security/administrators_folder.h"
#include "desktop/windows/installer/security/parent_folders_check.h"
#include "desktop/windows/installer/system/user_profiles.h"

namespace installer {

namespace {

using Facts = AllUsersFolderCheck::Facts;
using Verdict = AllUsersFolderCheck::Verdict;

bool IsMissing(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// Its owner and list, and its attributes, without following a link.
base::win::ScopedHandle OpenToRead(const base::FilePath& folder) {
  return base::win::ScopedHandle(::CreateFileW(
      folder.value().c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
      nullptr));
}

bool IsEmpty(const base::FilePath& folder, bool* empty) {
  base::FileEnumerator listing(
      folder, false,
      base::FileEnumerator::kFiles | base::FileEnumerator::kDirectories,
      base::WideStringSlice());
  *empty = listing.Next().empty();
  return listing.error() == ERROR_SUCCESS;
}

// The owner and list of the folder held by `handle`, and whether it holds
// anything.
void ReadFolderFacts(HANDLE handle, const base::FilePath& folder, Facts* facts) {
  AdministratorsFolder::Ownership ownership;
  if (!AdministratorsFolder::ReadOwnership(handle, &ownership)) {
    LOG(ERROR) << "Cannot judge who may change " << folder.AsUTF8();
    return;
  }
  facts->trusted_owner = ownership.trusted_owner;
  facts->administrators = ownership.administrators;
  facts->readable = IsEmpty(folder, &facts->empty);
}

void ReadParentFacts(const base::FilePath& resolved, Facts* facts) {
  switch (ParentFoldersCheck::Judge(resolved)) {
    case ParentFoldersCheck::Verdict::kKept:
      facts->parents_readable = true;
      facts->parents_administrators = true;
      break;
    case ParentFoldersCheck::Verdict::kReplaceable:
      facts->parents_readable = true;
      break;
    case ParentFoldersCheck::Verdict::kUnreadable:
      break;
  }
}

}  // namespace

// static
Verdict AllUsersFolderCheck::Decide(const Facts& facts) {
  if (facts.in_profile)
    return Verdict::kInProfile;
  if (facts.link)
    return Verdict::kOthersMayChange;
  if (!facts.parents_readable)
    return Verdict::kUnreadable;
  if (!facts.parents_administrators)
    return Verdict::kParentOthersMayChange;
  if (!facts.exists)
    return Verdict::kMakeAdministrators;
  if (!facts.readable)
    return Verdict::kUnreadable;
  if (facts.administrators && facts.trusted_owner)
    return Verdict::kUse;
  // Someone else's folder, even empty, may hold their handles open.
  if (facts.trusted_owner && facts.empty)
    return Verdict::kMakeAdministrators;
  return Verdict::kOthersMayChange;
}

// static
Verdict AllUsersFolderCheck::Judge(const base::FilePath& folder) {
  const base::FilePath resolved = ResolveLocalPath(folder);
  if (resolved.empty())
    return Verdict::kUnreadable;
  Facts facts;
  facts.in_profile = UserProfiles::Read().InAProfile(resolved);
  facts.link = IsReachedThroughLink(resolved);
  ReadParentFacts(resolved, &facts);
  const base::win::ScopedHandle handle = OpenToRead(resolved);
  if (handle.IsValid()) {
    facts.exists = true;
    const DWORD attributes = ::GetFileAttributesW(resolved.value().c_str());
    facts.link = facts.link || attributes == INVALID_FILE_ATTRIBUTES ||
                 !(attributes & FILE_ATTRIBUTE_DIRECTORY);
    ReadFolderFacts(handle.Get(), resolved, &facts);
  } else if (!IsMissing(::GetLastError())) {
    PLOG(ERROR) << "Cannot open " << resolved.AsUTF8();
    facts.exists = true;
  }
  const Verdict verdict = Decide(facts);
  VLOG(1) << "All-users folder " << resolved.AsUTF8() << ": "
          << Describe(verdict);
  return verdict;
}

// static
bool AllUsersFolderCheck::HoldsNothing(const base::FilePath& folder) {
  bool empty = false;
  return IsEmpty(folder, &empty) && empty;
}

// static
bool AllUsersFolderCheck::Refuses(Verdict verdict) {
  return verdict != Verdict::kUse && verdict != Verdict::kMakeAdministrators;
}

// static
int AllUsersFolderCheck::MessageId(Verdict verdict) {
  switch (verdict) {
    case Verdict::kUse:
    case Verdict::kMakeAdministrators:
      return 0;
    case Verdict::kInProfile:
      return kStringAllUsersFolderInProfile;
    case Verdict::kOthersMayChange:
    case Verdict::kParentOthersMayChange:
    case Verdict::kUnreadable:
      return kStringAllUsersFolderNotAdministrators;
  }
  return kStringAllUsersFolderNotAdministrators;
}

// static
const char* AllUsersFolderCheck::Describe(Verdict verdict) {
  switch (verdict) {
    case Verdict::kUse:
      return "it is the administrators' alone";
    case Verdict::kMakeAdministrators:
      return "it is missing or empty and is made the administrators'";
    case Verdict::kInProfile:
      return "it is in a user's profile";
    case Verdict::kOthersMayChange:
      return "users who are not administrators may change it, or it is "
             "reached through a link";
    case Verdict::kParentOthersMayChange:
      return "users who are not administrators may rename or replace a "
             "folder above it";
    case Verdict::kUnreadable:
      return "the owner or access list of it or of a folder above it, or "
             "its contents, cannot be read";
  }
  return "unknown";
}

}  // namespace installer
