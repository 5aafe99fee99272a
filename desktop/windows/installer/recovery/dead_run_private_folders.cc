#include "desktop/windows/installer/recovery/dead_run_private_folders.h"

#include <windows.h>

#include <aclapi.h>

#include <algorithm>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "base/files/empty_folder_removal.h"
#include "base/files/file_enumerator.h"
#include "base/files/file_util.h"
#include "base/files/final_path.h"
#include "base/files/held_folder.h"
#include "base/files/resolved_entry.h"
#include "base/logging.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/scoped_handle.h"
#include "base/win/scoped_local_alloc.h"
#include "desktop/windows/installer/product/package_file_names.h"
#include "desktop/windows/installer/recovery/dead_run_removal.h"
#include "desktop/windows/installer/security/administrators_folder.h"
#include "desktop/windows/installer/system/private_temp_folder.h"

namespace installer {

namespace {

using Kind = base::ResolvedEntry::Kind;

constexpr int kListedTypes =
    base::FileEnumerator::kFiles | base::FileEnumerator::kDirectories;

// What the installer's copies write beside the mark: RemoverCopy its
// program and library, the taskbar pinning its helper.
constexpr const wchar_t* kCopysFiles[] = {
    kPackageInstallerName, kInstallerLibraryName, kPinningHelperRunName};

using DeadRunCheck =
    std::function<bool(const base::ResolvedEntry&, const std::wstring&)>;

bool IsPrivilegedOr(PSID sid, PSID trusted_user) {
  return AdministratorsFolder::IsPrivileged(sid) ||
         (sid && trusted_user && ::IsValidSid(sid) &&
          ::EqualSid(sid, trusted_user));
}

// The mark, made with the folder: a file of its own right inside.
bool HoldsMark(const base::FilePath& folder) {
  const base::ResolvedEntry mark = base::ResolvedEntry::ResolveIn(
      folder.Append(PrivateTempFolder::kMarkName), folder);
  return mark.kind() == Kind::kPlain && !mark.is_directory();
}

// Read through a handle on the folder itself, checked to be the folder
// judged: never through a link put in its place since.
bool HasAdministratorsOwnList(const base::FilePath& folder, PSID trusted_user) {
  const base::win::ScopedHandle handle(::CreateFileW(
      folder.value().c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
      nullptr));
  if (!handle.IsValid()) {
    PLOG(WARNING) << "Cannot open " << folder.AsUTF8();
    return false;
  }
  if (base::FilePath::CompareIgnoreCase(
          base::FilePath(base::GetFinalPath(handle.Get(), folder.value())),
          folder) != 0) {
    return false;
  }
  base::win::ScopedLocalAlloc<void> descriptor;
  PSID owner = nullptr;
  PACL dacl = nullptr;
  const DWORD error = ::GetSecurityInfo(
      handle.Get(), SE_FILE_OBJECT,
      OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, nullptr,
      &dacl, nullptr, descriptor.Receive());
  if (error != ERROR_SUCCESS) {
    LOG(WARNING) << "Cannot read who may write " << folder.AsUTF8()
                 << ", error " << error;
    return false;
  }
  return DeadRunPrivateFolders::IsAdministratorsOwn(owner, dacl, trusted_user);
}

// Whether a process of the run that made the folder `name` may still hold
// it: its live-run event is there, made by the administrators. Only they
// may open it, so nobody else can keep it alive; an event someone else
// made under the name after the run ended, or one the administrators may
// not read, is not the run's.
bool IsRunLive(const std::wstring& name, PSID trusted_user) {
  const base::win::ScopedHandle event(
      ::OpenEventW(SYNCHRONIZE | READ_CONTROL, FALSE,
                   PrivateTempFolder::GetLiveRunEventName(name).c_str()));
  if (!event.IsValid()) {
    const DWORD error = ::GetLastError();
    // Denied, or another kind of object under the name: not the run's.
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_ACCESS_DENIED ||
        error == ERROR_INVALID_HANDLE) {
      return false;
    }
    LOG(WARNING) << "Cannot tell whether the run of " << base::WideToUtf8(name)
                 << " lives, error " << error;
    return true;
  }
  base::win::ScopedLocalAlloc<void> descriptor;
  PSID owner = nullptr;
  const DWORD error =
      ::GetSecurityInfo(event.Get(), SE_KERNEL_OBJECT,
                        OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                        nullptr, descriptor.Receive());
  if (error != ERROR_SUCCESS)
    return true;
  return DeadRunPrivateFolders::IsRunsOwnEvent(owner, trusted_user);
}

// Whether nothing below `folder` (its final path) is a link, a junction or
// an entry that cannot be told: a folder holding one was not made so.
bool HoldsNoLink(const base::FilePath& folder) {
  base::FileEnumerator listing(folder, false, kListedTypes, L"");
  for (base::FilePath path = listing.Next(); !path.empty();
       path = listing.Next()) {
    const base::ResolvedEntry entry =
        base::ResolvedEntry::ResolveListed(path, folder, listing.GetInfo());
    if (entry.kind() != Kind::kPlain)
      return false;
    if (entry.is_directory() && !HoldsNoLink(entry.path()))
      return false;
  }
  return listing.error() == ERROR_SUCCESS;
}

// A folder of its own under a private folder's name, the mark inside:
// other programs make folders with such names too.
bool IsMarkedFolder(const base::ResolvedEntry& entry, const std::wstring& name) {
  if (entry.kind() != Kind::kPlain || !entry.is_directory()) {
    if (entry.kind() == Kind::kLink)
      LOG(WARNING) << "Leaving a link named as a private folder: "
                   << base::WideToUtf8(name);
    return false;
  }
  return HoldsMark(entry.path());
}

bool IsDeadRunsFolder(const base::ResolvedEntry& entry,
                      const std::wstring& name,
                      PSID trusted_user) {
  if (!IsMarkedFolder(entry, name))
    return false;
  const base::FilePath& folder = entry.path();
  if (!HasAdministratorsOwnList(folder, trusted_user)) {
    LOG(WARNING) << "Leaving " << folder.AsUTF8()
                 << ": others may write it, it was not made so";
    return false;
  }
  if (IsRunLive(name, trusted_user)) {
    VLOG(1) << "The run of " << folder.AsUTF8() << " lives";
    return false;
  }
  if (!HoldsNoLink(folder)) {
    LOG(WARNING) << "Leaving " << folder.AsUTF8()
                 << ": it holds a link, it was not made so";
    return false;
  }
  return true;
}

// Whether `folder` (its final path) holds only the copy's files and its
// mark, each a file of its own.
bool HoldsOnlyCopysFiles(const base::FilePath& folder) {
  std::vector<std::wstring> names;
  base::FileEnumerator listing(folder, false, kListedTypes, L"");
  for (base::FilePath path = listing.Next(); !path.empty();
       path = listing.Next()) {
    const base::ResolvedEntry entry =
        base::ResolvedEntry::ResolveListed(path, folder, listing.GetInfo());
    if (entry.kind() != Kind::kPlain || entry.is_directory())
      return false;
    names.push_back(path.BaseName().value());
  }
  return listing.error() == ERROR_SUCCESS &&
         DeadRunPrivateFolders::AreCopysNames(names);
}

// Whether the run of the user's folder `name` may live: its live-run event
// is there, or cannot be told to be gone. Whoever made it, the folder
// stays: keeping a dead run's folder is the safe mistake.
bool IsUsersRunLive(const std::wstring& name) {
  const base::win::ScopedHandle event(
      ::OpenEventW(SYNCHRONIZE, FALSE,
                   PrivateTempFolder::GetLiveRunEventName(name).c_str()));
  return event.IsValid() || ::GetLastError() != ERROR_FILE_NOT_FOUND;
}

bool IsDeadCopysFolder(const base::ResolvedEntry& entry,
                       const std::wstring& name) {
  return IsMarkedFolder(entry, name) && HoldsOnlyCopysFiles(entry.path()) &&
         !IsUsersRunLive(name);
}

DeadRunRemoval Retried(bool removed) {
  if (removed)
    return DeadRunRemoval::kRemoved;
  // A link that cannot go alone, or one on the way, stays for good.
  const DWORD error = ::GetLastError();
  return error == ERROR_CANT_ACCESS_FILE || error == ERROR_CANT_RESOLVE_FILENAME
             ? DeadRunRemoval::kStays
             : DeadRunRemoval::kTryAgain;
}

// Everything but the mark, then the mark, then the empty folder, each
// judged and removed through its own handle, relative to the folder held
// from the drive root: a copy's folder lies in the user's temp folder,
// which the user may change while an elevated run removes it.
DeadRunRemoval RemoveFolder(const base::FilePath& folder) {
  const base::FilePath mark = folder.Append(PrivateTempFolder::kMarkName);
  base::FileEnumerator listing(folder, false, kListedTypes, L"");
  for (base::FilePath path = listing.Next(); !path.empty();
       path = listing.Next()) {
    if (base::FilePath::CompareIgnoreCase(path, mark) == 0)
      continue;
    const DeadRunRemoval removal =
        Retried(base::HeldFolder::RemovePath(path, true));
    if (removal != DeadRunRemoval::kRemoved)
      return removal;
  }
  // Entries left unseen: without its mark the folder would never be known
  // again.
  if (listing.error() != ERROR_SUCCESS)
    return DeadRunRemoval::kTryAgain;
  const DeadRunRemoval removal =
      Retried(base::HeldFolder::RemovePath(mark, false));
  if (removal != DeadRunRemoval::kRemoved)
    return removal;
  switch (base::RemoveEmptyFolderAt(folder)) {
    case base::EmptyFolderRemoval::kRemoved:
    case base::EmptyFolderRemoval::kMissing:
      return DeadRunRemoval::kRemoved;
    case base::EmptyFolderRemoval::kRefused:
      return DeadRunRemoval::kStays;
    case base::EmptyFolderRemoval::kFailed:
      break;
  }
  return DeadRunRemoval::kTryAgain;
}

// Removes the folders among the private folders of `owners` that
// `is_dead` takes for a dead run's.
void RemoveDeadRunsFolders(PrivateTempFolder::Owners owners,
                           const DeadRunCheck& is_dead) {
  base::FilePath parent;
  if (!PrivateTempFolder::GetParentFolder(owners, &parent))
    return;
  const base::FilePath parent_final = base::ResolvedEntry::GetFinalPath(parent);
  if (parent_final.empty())
    return;
  std::vector<base::FilePath> dead;
  base::FileEnumerator listing(parent, false,
                               base::FileEnumerator::kDirectories, L"");
  for (base::FilePath path = listing.Next(); !path.empty();
       path = listing.Next()) {
    const std::wstring name = path.BaseName().value();
    if (!PrivateTempFolder::IsMadeFolderName(name))
      continue;
    const base::ResolvedEntry entry = base::ResolvedEntry::ResolveListed(
        path, parent_final, listing.GetInfo());
    if (is_dead(entry, name)) {
      LOG(INFO) << "Removing the private folder of a run that died: "
                << entry.path().AsUTF8();
      dead.push_back(entry.path());
    }
  }
  RemoveDeadRunEntries(std::move(dead), RemoveFolder);
}

}  // namespace

// static
void DeadRunPrivateFolders::RemoveFromSystemTemp() {
  BYTE trusted_user_buffer[SECURITY_MAX_SID_SIZE];
  const PSID trusted_user =
      AdministratorsFolder::ReadTrustedUser(trusted_user_buffer);
  RemoveDeadRunsFolders(
      PrivateTempFolder::Owners::kAdministrators,
      [trusted_user](const base::ResolvedEntry& entry,
                     const std::wstring& name) {
        return IsDeadRunsFolder(entry, name, trusted_user);
      });
}

// static
void DeadRunPrivateFolders::RemoveCopiesFromUserTemp() {
  RemoveDeadRunsFolders(PrivateTempFolder::Owners::kCurrentUser,
                        IsDeadCopysFolder);
}

// static
bool DeadRunPrivateFolders::AreCopysNames(
    const std::vector<std::wstring>& names) {
  bool marked = false;
  for (const std::wstring& name : names) {
    const auto is = [&name](const wchar_t* known) {
      return base::FilePath::CompareIgnoreCase(base::FilePath(name),
                                               base::FilePath(known)) == 0;
    };
    if (is(PrivateTempFolder::kMarkName)) {
      marked = true;
      continue;
    }
    if (std::none_of(std::begin(kCopysFiles), std::end(kCopysFiles), is))
      return false;
  }
  return marked;
}

// static
bool DeadRunPrivateFolders::IsAdministratorsOwn(PSID owner,
                                                const ACL* dacl,
                                                PSID trusted_user) {
  return AdministratorsFolder::IsAdministrators(owner, dacl, trusted_user);
}

// static
bool DeadRunPrivateFolders::IsRunsOwnEvent(PSID owner, PSID trusted_user) {
  return IsPrivilegedOr(owner, trusted_user);
}

}  // namespace installer
