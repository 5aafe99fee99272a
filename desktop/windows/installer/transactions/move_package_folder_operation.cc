#include "desktop/windows/installer/transactions/move_package_folder_operation.h"

#include <windows.h>

#include <algorithm>
#include <map>
#include <set>
#include <tuple>
#include <utility>

#include "base/files/file_util.h"
#include "base/log_message.h"
#include "base/logging.h"
#include "desktop/windows/installer/journal/run_journal.h"
#include "desktop/windows/installer/testing/test_hooks.h"
#include "desktop/windows/installer/transactions/held_folder_tree.h"

namespace installer {

namespace {

// An entry's list and owner are changed through its handle; shared with no
// deletion, it stays at its name meanwhile.
constexpr DWORD kEntryAccess =
    READ_CONTROL | WRITE_DAC | WRITE_OWNER | FILE_READ_ATTRIBUTES;
// A folder's entries are opened relative to it.
constexpr DWORD kFolderEntryAccess = kEntryAccess | FILE_TRAVERSE;
// The folder moved, renamed through this handle.
constexpr DWORD kFolderAccess = kFolderEntryAccess | DELETE |
                                FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES |
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
  // Invalid for one left out.
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
      exposed_(exposed) {
  for (const std::wstring& file : files_)
    levels_ = std::max(levels_, Separators(file) + 1);
}

MovePackageFolderOperation::~MovePackageFolderOperation() = default;

bool MovePackageFolderOperation::Do(Transaction* sub_operations) {
  VLOG(1) << "Moving the package folder " << source_.AsUTF8() << " to "
          << target_.AsUTF8();
  parent_ = held_targets_->Folder(target_.DirName(), sub_operations);
  if (!parent_)
    return Fail("its new folder cannot be held", ::GetLastError());
  const std::wstring name = target_.BaseName().value();
  // A name taken, by a link too, leaves the files to go one by one.
  bool is_folder = false;
  if (parent_->OpenEntry(name, 0, kSharing | FILE_SHARE_DELETE, &is_folder)
          .IsValid() ||
      ::GetLastError() != ERROR_FILE_NOT_FOUND) {
    return Fail("its name is taken", ERROR_ALREADY_EXISTS);
  }
  base::win::ScopedHandle root(::CreateFileW(
      source_.value().c_str(), kFolderAccess, kSharing, nullptr, OPEN_EXISTING,
      FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  const std::wstring root_path =
      root.IsValid() ? base::HeldFolder::PathInVolume(root.Get()) : L"";
  index_ = base::ReadFileIndex(root.Get());
  if (root_path.empty() || !index_ ||
      !base::HeldFolder::IsPlainEntryAt(root.Get(), root_path, true)) {
    return Fail("it cannot be opened as itself", ::GetLastError());
  }
  std::vector<Entry> entries;
  if (!OpenEntries(std::move(root), root_path, /*skip_foreign=*/false,
                   &entries)) {
    return Fail("an entry cannot be opened as itself", ::GetLastError());
  }
  const std::vector<base::HeldFolder::NewEntrySecurity> security =
      base::HeldFolder::NewTreeSecurity(parent_->handle(), levels_ + 1);
  if (security.empty())
    return Fail("the lists of new entries cannot be read", ::GetLastError());
  if (!RenamesInto(*parent_, security.front().folder))
    return Fail("it cannot be renamed there", ::GetLastError());
  // Before any list is given: from here on a dead run's recovery takes
  // away what lies at the target.
  if (!RunJournal::Get()->RecordMovedOutOfTemporary(source_, target_))
    return Fail("its journal line was not written", ::GetLastError());
  *exposed_ = true;
  lists_given_ = true;
  const DWORD error = GiveLists(security, entries, /*reach_test_point=*/true);
  if (error != ERROR_SUCCESS)
    return Fail("an entry cannot take its new list", error);
  // Windows renames no folder while an entry below it is open.
  base::win::ScopedHandle folder = std::move(entries.back().handle);
  entries.clear();
  if (!parent_->MoveInto(folder.Get(), name))
    return Fail("it cannot be renamed into its new folder", ::GetLastError());
  renamed_ = true;
  // Held as the tree's other folders are (the handle that renamed it
  // shares no opening of a folder held so), and proven the one moved: a
  // user may have put another at its name in between.
  folder.Close();
  moved_ = parent_->OpenSubfolder(name, false);
  if (!moved_ || base::ReadFileIndex(moved_->handle()) != index_) {
    moved_.reset();
    return Fail("it is not found at its new name", ERROR_CANT_RESOLVE_FILENAME);
  }
  held_targets_->Add(target_, moved_);
  return true;
}

bool MovePackageFolderOperation::OpenEntries(
    base::win::ScopedHandle root,
    const std::wstring& root_path,
    bool skip_foreign,
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
  std::stable_sort(
      entries->begin(), entries->end(),
      [](const Entry& a, const Entry& b) { return a.level > b.level; });
  // From the folder itself down, each by its name in its folder's handle.
  std::map<std::wstring, HANDLE> folder_handles = {
      {std::wstring(), root.Get()}};
  for (auto entry = entries->rbegin(); entry != entries->rend(); ++entry) {
    const size_t separator = entry->relative.rfind(L'\\');
    const std::wstring folder = separator == std::wstring::npos
                                    ? std::wstring()
                                    : entry->relative.substr(0, separator);
    const auto parent = folder_handles.find(folder);
    if (parent != folder_handles.end()) {
      entry->handle = base::HeldFolder::OpenEntryIn(
          parent->second,
          std::wstring_view(entry->relative).substr(separator + 1),
          entry->folder, entry->folder ? kFolderEntryAccess : kEntryAccess,
          kSharing);
      if (entry->handle.IsValid() &&
          !base::HeldFolder::IsPlainEntryAt(entry->handle.Get(),
                                            root_path + L'\\' + entry->relative,
                                            entry->folder)) {
        entry->handle.Close();
        ::SetLastError(ERROR_CANT_RESOLVE_FILENAME);
      }
    }
    if (!entry->handle.IsValid() && !skip_foreign)
      return false;
    if (entry->folder && entry->handle.IsValid())
      folder_handles[entry->relative] = entry->handle.Get();
  }
  entries->push_back({std::wstring(), true, 0, std::move(root)});
  return true;
}

DWORD MovePackageFolderOperation::GiveLists(
    const std::vector<base::HeldFolder::NewEntrySecurity>& security,
    const std::vector<Entry>& entries,
    bool reach_test_point) const {
  // The owner is given whatever it was: no read of each entry's first.
  const std::vector<unsigned char> unread;
  for (const Entry& entry : entries) {
    if (!entry.handle.IsValid())
      continue;
    const base::HeldFolder::NewEntrySecurity& level =
        security[std::min(entry.level, security.size() - 1)];
    const DWORD error = base::HeldFolder::GiveSecurity(
        entry.handle.Get(), entry.folder ? level.folder : level.file, unread);
    if (error != ERROR_SUCCESS)
      return error;
    if (reach_test_point)
      TestHooks::OnRolePoint(TestHooks::RolePoint::kMovedFile);
  }
  return ERROR_SUCCESS;
}

base::win::ScopedHandle MovePackageFolderOperation::OpenPackageFolder() const {
  return base::win::ScopedHandle(::CreateFileW(
      source_.DirName().value().c_str(),
      FILE_TRAVERSE | FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | SYNCHRONIZE,
      kSharing, nullptr, OPEN_EXISTING,
      FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}

// A rename fails across volumes (also to a file system mounted below a
// folder), and the folder's must not fail once its entries have their new
// lists: an empty folder made beside it is moved into the target first,
// given a new folder's list there so that a run killed meanwhile leaves
// one its user can take away, and goes again at once.
bool MovePackageFolderOperation::RenamesInto(
    const base::HeldFolder& parent,
    const std::vector<unsigned char>& folder_security) const {
  const base::win::ScopedHandle package = OpenPackageFolder();
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

void MovePackageFolderOperation::Rollback() {
  if (!lists_given_) {
    parent_.reset();
    return;
  }
  // Nothing below the folder stays open: Windows would not rename it.
  held_targets_->Forget(target_);
  moved_.reset();
  if (!PutBack()) {
    PLOG(ERROR) << "Failed putting the package folder " << source_.AsUTF8()
                << " back as it was";
  }
  parent_.reset();
}

// The very folder moved is found where it is (whatever was put at its new
// name meanwhile stays there), and its entries are opened through it as in
// Do: a link or second name a user put in it since is neither entered nor
// given a list, and goes with the package folder, which follows no link.
bool MovePackageFolderOperation::PutBack() {
  base::win::ScopedHandle root;
  bool is_folder = false;
  if (renamed_) {
    root = parent_->OpenEntry(target_.BaseName().value(), kFolderAccess,
                              kSharing, &is_folder);
  } else {
    root.Set(::CreateFileW(
        source_.value().c_str(), kFolderAccess, kSharing, nullptr,
        OPEN_EXISTING,
        FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  }
  if (!root.IsValid())
    return false;
  const std::wstring root_path = base::HeldFolder::PathInVolume(root.Get());
  if (base::ReadFileIndex(root.Get()) != index_ || root_path.empty()) {
    ::SetLastError(ERROR_FILE_NOT_FOUND);
    return false;
  }
  const base::win::ScopedHandle package = OpenPackageFolder();
  if (!package.IsValid())
    return false;
  const std::vector<base::HeldFolder::NewEntrySecurity> security =
      base::HeldFolder::NewTreeSecurity(package.Get(), levels_ + 1);
  const DWORD security_error = ::GetLastError();
  std::vector<Entry> entries;
  // Leaves out what is not plain, and so never fails.
  std::ignore = OpenEntries(std::move(root), root_path,
                            /*skip_foreign=*/true, &entries);
  // Back even where a list could not be given: a package folder goes
  // with its run, while this one would stay in the installation.
  const DWORD error = security.empty() ? security_error
                                       : GiveLists(security, entries,
                                                   /*reach_test_point=*/false);
  const base::win::ScopedHandle folder = std::move(entries.back().handle);
  entries.clear();
  if (renamed_ && !base::RenameIntoFolder(folder.Get(), package.Get(),
                                          source_.BaseName().value())) {
    return false;
  }
  renamed_ = false;
  ::SetLastError(error);
  return error == ERROR_SUCCESS;
}

}  // namespace installer
