#ifndef DESKTOP_WINDOWS_INSTALLER_TRANSACTIONS_MOVE_PACKAGE_FOLDER_OPERATION_H_
#define DESKTOP_WINDOWS_INSTALLER_TRANSACTIONS_MOVE_PACKAGE_FOLDER_OPERATION_H_

#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/files/held_folder.h"
#include "desktop/windows/installer/transactions/operation.h"

namespace installer {

class HeldFolderTree;

// Moves a folder of the run's temporary package whole into a held folder,
// for a run that may be elevated: one rename instead of one per file. The
// package folder lies in the run's private folder, which only the
// administrators may change, so its entries are opened there from the
// folder down, all of them before any is changed, and held against
// renaming.
// Each is then given the owner and list an entry made at its place below
// the target gets, the folder itself last, so that nothing is seen in the
// user's folder with the package folder's list. The folder, held from its
// old name on, is renamed into the held target folder by its single name,
// never over anything there, and added to the tree held through that very
// handle. Its journal line is one move out of the package.
//
// A rollback renames that very folder back into the package folder. Its
// entries keep the lists they were given: the package folder goes with the
// run, nothing in it is read again, and its removal follows no link.
class MovePackageFolderOperation : public Operation {
 public:
  // `files`: the folder's files, relative to it, none of them a link or
  // read-only, and no other entry (as FolderHoldsExactly found it).
  // `*exposed`, written only while Do runs, is set once an entry has a
  // list its user may act on: from then on nothing below the folder may be
  // read by its path any more, not even by a move of its files one by one.
  MovePackageFolderOperation(const base::FilePath& source,
                             const base::FilePath& target,
                             std::vector<std::wstring> files,
                             HeldFolderTree* held_targets,
                             bool* exposed);
  ~MovePackageFolderOperation() override;

  bool Do(Transaction* sub_operations) override;
  void Rollback() override;

 private:
  struct Entry;

  // The folder's entries, deepest first (a folder after what it holds),
  // each opened by its name in its folder's handle; false when one cannot
  // be.
  bool OpenEntries(std::vector<Entry>* entries) const;
  // Whether a folder of the package's can be renamed into `parent`, given
  // `folder_security` first; false with the error set.
  bool RenamesInto(const base::HeldFolder& parent,
                   const std::vector<unsigned char>& folder_security) const;
  bool Fail(const char* what, DWORD error);

  const base::FilePath source_;
  const base::FilePath target_;
  const std::vector<std::wstring> files_;
  HeldFolderTree* const held_targets_;
  bool* const exposed_;
  // The folder at its new place, held until the rollback puts it back.
  base::HeldFolder::Ref moved_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_TRANSACTIONS_MOVE_PACKAGE_FOLDER_OPERATION_H_
