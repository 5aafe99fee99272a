#include "desktop/windows/installer/settings/all_users_folder_check.h"

#include <windows.h>

#include "base/files/file_enumerator.h"
#include "base/logging.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/paths/local_path.h"
#include "desktop/windows/installer/product/installer_string_ids.h"
#include "desktop/windows/installer/security/administrators_folder.h"
#include "desktop/windows/installer/system/user_profiles.h"

namespace installer {

namespace {

using Facts = AllUsersFolderCheck::Facts;
using Verdict = AllUsersFolderCheck::Verdict;

bool IsMissing(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
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

}  // namespace

// static
Verdict AllUsersFolderCheck::Decide(const Facts& facts) {
  if (facts.in_profile)
    return Verdict::kInProfile;
  if (facts.link)
    return Verdict::kOthersMayChange;
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
  const base::win::ScopedHandle handle(::CreateFileW(
      resolved.value().c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
      nullptr));
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
    case Verdict::kUnreadable:
      return "its owner, access list or contents cannot be read";
  }
  return "unknown";
}

}  // namespace installer
