#include "desktop/windows/installer/transactions/move_package_folder_operation.h"

#include <windows.h>

#include <algorithm>
#include <map>
#include <set>
#include <utility>

#include "base/files/file_util.h"
#include "base/log_message.h"
#include "base/logging.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/journal/run_journal.h"
#include "desktop/windows/installer/testing/test_hooks.h"
#include "desktop/windows/installer/transactions/held_folder_tree.h"

namespace installer {

namespace {

// An entry's list and owner are changed through its handle; shared with no
// deletion, it stays at its name meanwhile.
constexpr DWORD kEntryAccess = READ_CONTROL | WRITE_DAC | WRITE_OWNER;
// The folder moved is held then as any held folder (see base::HeldFolder),
// and renamed through the same handle.
constexpr DWORD kFolderAccess = kEntryAccess | DELETE | FILE_LIST_DIRECTORY |
                                FILE_TRAVERSE | FILE_READ_ATTRIBUTES |
                                SYNCHRONIZE;
constexpr DWORD kSharing = FILE_SHARE_READ | FILE_SHARE_WRITE;

size_t Separators(const std::wstring& path) {
  return static_cast<size_t>(std::count(path.begin(), path.end(), L'\\'));
}

}  // namespace

struct MovePackageFolderOperation::Entry {
  // Empty for the folder moved itself.
  std::wstring relative;
  bool folder = false;
  // The folders between it and the target's folder.
  size_t level = 0;
  base::win::ScopedHandle handle;
};

MovePackageFolderOperation::MovePackageFolderOperation(
    const base::FilePath& source,
    const base::FilePath& target,
    std::vector<std::wstring> files,
    HeldFolderTree* held_targets,
    bool* exposed)
    : source_(source),
      target_(target),
      files_(std::move(files)),
      held_targets_(held_targets),
      exposed_(exposed) {}

MovePackageFolderOperation::~MovePackageFolderOperation() = default;

bool MovePackageFolderOperation::Do(Transaction* sub_operations) {
  VLOG(1) << "Moving the package folder " << source_.AsUTF8() << " to "
          << target_.AsUTF8();
  if (!RunJournal::Get()->RecordMovedOutOfTemporary(source_, target_))
    return Fail("its journal line was not written", ::GetLastError());
  const base::HeldFolder::Ref parent =
      held_targets_->Folder(target_.DirName(), sub_operations);
  if (!parent)
    return Fail("its new folder cannot be held", ::GetLastError());
  // Every entry is opened while the whole package folder still has its
  // own list, which admits no user: nothing can lie at those names but the
  // package's own entries.
  std::vector<Entry> entries;
  if (!OpenEntries(&entries))
    return Fail("an entry cannot be opened", ::GetLastError());
  const std::vector<base::HeldFolder::NewEntrySecurity> security =
      parent->NewTreeSecurity(entries.front().level + 1);
  if (security.empty())
    return Fail("the lists of new entries cannot be read", ::GetLastError());
  if (!RenamesInto(*parent, security.front().folder))
    return Fail("it cannot be renamed there", ::GetLastError());
  *exposed_ = true;
  // The owner is given whatever it was: no read of each entry's first.
  const std::vector<unsigned char> unread;
  for (const Entry& entry : entries) {
    const base::HeldFolder::NewEntrySecurity& level = security[entry.level];
    const DWORD error = base::HeldFolder::GiveSecurity(
        entry.handle.Get(), entry.folder ? level.folder : level.file, unread);
    if (error != ERROR_SUCCESS)
      return Fail("an entry cannot take its new list", error);
    TestHooks::OnRolePoint(TestHooks::RolePoint::kMovedFile);
  }
  // Windows renames no folder while an entry below it is open.
  base::win::ScopedHandle folder = std::move(entries.back().handle);
  entries.clear();
  moved_ =
      parent->MoveFolderInto(std::move(folder), target_.BaseName().value());
  if (!moved_)
    return Fail("it cannot be renamed into its new folder", ::GetLastError());
  held_targets_->Add(target_, moved_);
  return true;
}

bool MovePackageFolderOperation::OpenEntries(
    std::vector<Entry>* entries) const {
  std::set<std::wstring> folders;
  for (const std::wstring& file : files_) {
    entries->push_back({file, false, Separators(file) + 1, {}});
    for (size_t end = file.rfind(L'\\'); end != std::wstring::npos && end > 0;
         end = file.rfind(L'\\', end - 1)) {
      folders.insert(file.substr(0, end));
    }
  }
  for (const std::wstring& folder : folders)
    entries->push_back({folder, true, Separators(folder) + 1, {}});
  entries->push_back({std::wstring(), true, 0, {}});
  std::stable_sort(
      entries->begin(), entries->end(),
      [](const Entry& a, const Entry& b) { return a.level > b.level; });
  // From the folder itself down, each by its name in its folder's handle.
  std::map<std::wstring, HANDLE> folder_handles;
  for (auto entry = entries->rbegin(); entry != entries->rend(); ++entry) {
    if (entry->relative.empty()) {
      entry->handle.Set(::CreateFileW(
          source_.value().c_str(), kFolderAccess, kSharing, nullptr,
          OPEN_EXISTING,
          FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    } else {
      const size_t separator = entry->relative.rfind(L'\\');
      const std::wstring folder = separator == std::wstring::npos
                                      ? std::wstring()
                                      : entry->relative.substr(0, separator);
      entry->handle = base::HeldFolder::OpenEntryIn(
          folder_handles[folder],
          std::wstring_view(entry->relative).substr(separator + 1),
          entry->folder,
          entry->folder ? kEntryAccess | FILE_TRAVERSE : kEntryAccess,
          kSharing);
    }
    if (!entry->handle.IsValid())
      return false;
    if (entry->folder)
      folder_handles[entry->relative] = entry->handle.Get();
  }
  return true;
}

bool MovePackageFolderOperation::RenamesInto(
    const base::HeldFolder& parent,
    const std::vector<unsigned char>& folder_security) const {
  const base::win::ScopedHandle package(::CreateFileW(
      source_.DirName().value().c_str(),
      FILE_TRAVERSE | FILE_ADD_SUBDIRECTORY | SYNCHRONIZE, kSharing, nullptr,
      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
      nullptr));
  const base::win::ScopedHandle probe =
      package.IsValid()
          ? base::HeldFolder::MakeProbe(package.Get(), /*folder=*/true,
                                        WRITE_DAC | WRITE_OWNER)
          : base::win::ScopedHandle();
  if (!probe.IsValid())
    return false;
  const DWORD error =
      base::HeldFolder::GiveSecurity(probe.Get(), folder_security, {});
  if (error != ERROR_SUCCESS) {
    ::SetLastError(error);
    return false;
  }
  return parent.MoveInto(
      probe.Get(),
      L"~rename_probe_" + std::to_wstring(::GetCurrentProcessId()) + L".tmp");
}

bool MovePackageFolderOperation::Fail(const char* what, DWORD error) {
  set_error(error);
  LOG(ERROR) << "Failed moving the package folder " << source_.AsUTF8()
             << " to " << target_.AsUTF8() << ": " << what << ": "
             << base::SystemErrorCodeToString(error);
  return false;
}

// The very folder moved goes back, through the handle that has held it
// since: whatever was put at its new name meanwhile stays there.
void MovePackageFolderOperation::Rollback() {
  if (!moved_)
    return;
  held_targets_->Forget(target_);
  if (!base::RenameHeldFile(moved_->handle(), source_)) {
    PLOG(ERROR) << "Failed moving " << target_.AsUTF8() << " back to "
                << source_.AsUTF8();
  }
  moved_.reset();
}

}  // namespace installer
