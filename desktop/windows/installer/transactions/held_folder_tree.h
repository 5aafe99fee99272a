#ifndef DESKTOP_WINDOWS_INSTALLER_TRANSACTIONS_HELD_FOLDER_TREE_H_
#define DESKTOP_WINDOWS_INSTALLER_TRANSACTIONS_HELD_FOLDER_TREE_H_

#include <map>
#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/files/held_folder.h"

namespace installer {

class Transaction;

// The folders of an installation that a run which may be elevated writes
// into, each held (base::HeldFolder) from the first file it takes until the
// run ends: the installation folder from its volume's root down, and every
// folder below it that a file goes to, made through the transaction where
// it is missing; the same for each further root added (the user's shortcut
// folders). A user's process can then neither rename a folder away
// nor put a link in its place while the run writes there. A rollback lets
// every folder go, so that the folders it takes away can go. Lives on the
// backend's sequence.
class HeldFolderTree {
 public:
  // `root`: the installation folder, as ResolveLocalPath spells it; when
  // it is missing, Folder makes it as the folders below it.
  explicit HeldFolderTree(const base::FilePath& root);
  HeldFolderTree(const HeldFolderTree&) = delete;
  HeldFolderTree& operator=(const HeldFolderTree&) = delete;
  ~HeldFolderTree();

  // Adds a further root, `folder` (as ResolveLocalPath spells it), held
  // like the first from the nearest folder on its way that exists now: the
  // levels still missing are made as the folders below a root are.
  void AddRoot(const base::FilePath& folder);

  // Whether `path` is a root or lies below one.
  bool Covers(const base::FilePath& path) const;

  // The held folder `folder` (the root or below it): the levels that are
  // missing are made by operations on `sub_operations` (journaled, and
  // taken away again by a rollback). Null, with the Windows error set, when
  // a level is a link, leads elsewhere or cannot be opened or made.
  [[nodiscard]] base::HeldFolder::Ref Folder(const base::FilePath& folder,
                                             Transaction* sub_operations);
  // As Folder, but makes no level: null with ERROR_PATH_NOT_FOUND where
  // one is missing. For a folder something is taken out of.
  [[nodiscard]] base::HeldFolder::Ref ExistingFolder(
      const base::FilePath& folder,
      Transaction* sub_operations);

  // Adds a folder made below the root (by the operation that made it).
  void Add(const base::FilePath& folder, base::HeldFolder::Ref held);
  // Lets go of a folder that a rollback takes away or moves back, and of
  // every folder held below it.
  void Forget(const base::FilePath& folder);

 private:
  class ReleaseOnRollback;

  base::HeldFolder::Ref Hold(const base::FilePath& folder,
                             Transaction* sub_operations,
                             bool make_missing);
  base::HeldFolder::Ref HoldRoot(const base::FilePath& folder,
                                 Transaction* sub_operations,
                                 bool make_missing);
  // `folder`, found or made in its held `parent`.
  base::HeldFolder::Ref HoldIn(const base::HeldFolder::Ref& parent,
                               const base::FilePath& folder,
                               Transaction* sub_operations,
                               bool make_missing);
  static std::wstring Key(const base::FilePath& folder);
  bool IsRoot(const base::FilePath& folder) const;

  std::vector<base::FilePath> roots_;
  std::map<std::wstring, base::HeldFolder::Ref> folders_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_TRANSACTIONS_HELD_FOLDER_TREE_H_
