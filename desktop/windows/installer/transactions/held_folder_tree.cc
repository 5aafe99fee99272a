#include "desktop/windows/installer/transactions/held_folder_tree.h"

#include <memory>
#include <utility>
#include <vector>

#include "base/files/file_util.h"
#include "base/logging.h"
#include "desktop/windows/installer/paths/local_path.h"
#include "desktop/windows/installer/transactions/create_held_folder_operation.h"
#include "desktop/windows/installer/transactions/transaction.h"

namespace installer {

// Stands in the transaction from the moment the installation folder is
// first held (once made, when the tree made it): undone, it lets every
// held folder go, so that the rollback of the folders' own creation (later
// in the undoing, as they were made before) can take them away.
class HeldFolderTree::ReleaseOnRollback : public Operation {
 public:
  explicit ReleaseOnRollback(HeldFolderTree* tree) : tree_(tree) {}

  bool Do(Transaction* sub_operations) override { return true; }
  void Rollback() override { tree_->folders_.clear(); }

 private:
  HeldFolderTree* const tree_;
};

HeldFolderTree::HeldFolderTree(const base::FilePath& root) : roots_{root} {}

HeldFolderTree::~HeldFolderTree() = default;

void HeldFolderTree::AddRoot(const base::FilePath& folder) {
  base::FilePath root = folder.StripTrailingSeparators();
  while (!base::DirectoryExists(root) && root.DirName() != root)
    root = root.DirName();
  if (!IsRoot(root) && !Covers(root))
    roots_.push_back(root);
}

bool HeldFolderTree::IsRoot(const base::FilePath& folder) const {
  for (const base::FilePath& root : roots_) {
    if (Key(folder) == Key(root))
      return true;
  }
  return false;
}

bool HeldFolderTree::Covers(const base::FilePath& path) const {
  for (const base::FilePath& root : roots_) {
    if (Key(path) == Key(root) || IsBelowFolder(path, root))
      return true;
  }
  return false;
}

base::HeldFolder::Ref HeldFolderTree::Folder(const base::FilePath& folder,
                                             Transaction* sub_operations) {
  return Hold(folder, sub_operations, /*make_missing=*/true);
}

base::HeldFolder::Ref HeldFolderTree::ExistingFolder(
    const base::FilePath& folder,
    Transaction* sub_operations) {
  return Hold(folder, sub_operations, /*make_missing=*/false);
}

base::HeldFolder::Ref HeldFolderTree::Hold(const base::FilePath& folder,
                                           Transaction* sub_operations,
                                           bool make_missing) {
  const auto known = folders_.find(Key(folder));
  if (known != folders_.end())
    return known->second;
  if (IsRoot(folder))
    return HoldRoot(folder, sub_operations, make_missing);
  if (!Covers(folder)) {
    ::SetLastError(ERROR_BAD_PATHNAME);
    return nullptr;
  }
  const base::HeldFolder::Ref parent =
      Hold(folder.DirName(), sub_operations, make_missing);
  if (!parent)
    return nullptr;
  return HoldIn(parent, folder, sub_operations, make_missing);
}

base::HeldFolder::Ref HeldFolderTree::HoldRoot(const base::FilePath& folder,
                                               Transaction* sub_operations,
                                               bool make_missing) {
  // A root that is not there yet (a first installation's folder) is held
  // from the nearest folder that is, and its missing levels are made one
  // name at a time below it: a link put on the way since the folder was
  // judged is refused, never followed.
  std::vector<base::FilePath> missing;
  base::FilePath existing = folder.StripTrailingSeparators();
  while (!base::DirectoryExists(existing)) {
    const base::FilePath parent = existing.DirName();
    if (parent == existing || !make_missing) {
      // No level of the path exists: its drive is missing.
      ::SetLastError(ERROR_PATH_NOT_FOUND);
      return nullptr;
    }
    missing.push_back(existing);
    existing = parent;
  }
  base::HeldFolder::Ref held =
      base::HeldFolder::Open(ResolveLocalPath(existing));
  if (!held) {
    PLOG(ERROR) << "Cannot hold the folder " << existing.AsUTF8()
                << " from its drive's root down, every level no link";
    return nullptr;
  }
  for (auto level = missing.rbegin(); level != missing.rend() && held;
       ++level) {
    held = HoldIn(held, *level, sub_operations, make_missing);
  }
  // After the levels' creation, so that a rollback first lets every held
  // folder go and then takes the levels away.
  if (!held || !sub_operations->ExecuteOperation(
                   std::make_unique<ReleaseOnRollback>(this))) {
    return nullptr;
  }
  Add(folder, held);
  return held;
}

base::HeldFolder::Ref HeldFolderTree::HoldIn(
    const base::HeldFolder::Ref& parent,
    const base::FilePath& folder,
    Transaction* sub_operations,
    bool make_missing) {
  const std::wstring name = folder.BaseName().value();
  base::HeldFolder::Ref existing = parent->OpenSubfolder(name, false);
  if (existing) {
    Add(folder, existing);
    return existing;
  }
  if (::GetLastError() != ERROR_FILE_NOT_FOUND) {
    PLOG(ERROR) << "Refusing the folder " << folder.AsUTF8()
                << ": no plain folder of its own name";
    return nullptr;
  }
  if (!make_missing) {
    ::SetLastError(ERROR_PATH_NOT_FOUND);
    return nullptr;
  }
  if (!sub_operations->ExecuteOperation(
          std::make_unique<CreateHeldFolderOperation>(
              parent, folder, this,
              // The installation folder and the levels above it are opened
              // by name through the run, by the package's own backend too,
              // which holds them from the volume's root down as well.
              Covers(folder) && !IsRoot(folder)
                  ? CreateHeldFolderOperation::Hold::kWithDeleteAccess
                  : CreateHeldFolderOperation::Hold::kAsFound))) {
    ::SetLastError(sub_operations->last_error());
    return nullptr;
  }
  const auto made = folders_.find(Key(folder));
  return made != folders_.end() ? made->second : nullptr;
}

void HeldFolderTree::Add(const base::FilePath& folder,
                         base::HeldFolder::Ref held) {
  folders_[Key(folder)] = std::move(held);
}

void HeldFolderTree::Forget(const base::FilePath& folder) {
  // The folders held below it go too: each keeps its parent open, and no
  // folder is renamed or removed while an entry below it is open.
  const std::wstring key = Key(folder);
  folders_.erase(key);
  const std::wstring below = key + L'\\';
  auto held = folders_.lower_bound(below);
  while (held != folders_.end() && held->first.starts_with(below))
    held = folders_.erase(held);
}

// static
std::wstring HeldFolderTree::Key(const base::FilePath& folder) {
  return ToUpperOrdinal(folder.StripTrailingSeparators().value());
}

}  // namespace installer
