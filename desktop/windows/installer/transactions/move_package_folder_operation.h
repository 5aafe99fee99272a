#ifndef DESKTOP_WINDOWS_INSTALLER_TRANSACTIONS_MOVE_PACKAGE_FOLDER_OPERATION_H_
#define DESKTOP_WINDOWS_INSTALLER_TRANSACTIONS_MOVE_PACKAGE_FOLDER_OPERATION_H_

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/files/held_folder.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/transactions/operation.h"

namespace installer {

class HeldFolderTree;

// Moves a folder of the run's temporary package whole into a held folder,
// for a run that may be elevated: one rename instead of one per file. Its
// new name must be free (nothing there, not even a link): otherwise the
// move fails before anything changed, and its files go one by one. The
// package folder lies in the run's private folder, yet its entries are
// opened from the folder down, each by its name in its folder's handle,
// all of them before any is changed; a link, a reparse point or a file
// with a second name among them fails the move before anything changed.
// Each is then given the owner and list an entry made at its place below
// the target gets, the folder itself too, so that nothing is seen in the
// user's folder with the package folder's list. The folder, held from its
// old name on, is renamed into the held target folder by its single name,
// never over anything there, then held there as the tree's other folders
// are, opened again by its name in its held parent and proven the folder
// moved by its file index. Its journal line is one move out of the
// package, written before any list is given.
//
// A rollback gives the folder (found again as that very folder) and each
// of its entries that is still plain the list an entry made at its place
// in the package folder gets, then renames it back there: nothing of the
// user's folder's list stays in the private package folder.
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

  // The folder open on `root`, lying at `root_path` inside its volume, and
  // its entries: deepest first, a folder after what it holds, the folder
  // itself last. Each is opened by its name in its folder's handle, from
  // the folder down. An entry that is not plain (see
  // base::HeldFolder::IsPlainEntryAt) fails them all with
  // ERROR_CANT_RESOLVE_FILENAME, or with `skip_foreign` is left out with
  // all below it, as one that is missing is then.
  bool OpenEntries(base::win::ScopedHandle root,
                   const std::wstring& root_path,
                   bool skip_foreign,
                   std::vector<Entry>* entries) const;
  // Gives each of `entries` that is open the list of its level and kind in
  // `security`. Returns the Windows error.
  DWORD GiveLists(
      const std::vector<base::HeldFolder::NewEntrySecurity>& security,
      const std::vector<Entry>& entries,
      bool reach_test_point) const;
  // Whether a folder of the package's can be renamed into `parent`, given
  // `folder_security` first; false with the error set.
  bool RenamesInto(const base::HeldFolder& parent,
                   const std::vector<unsigned char>& folder_security) const;
  // The rollback's work: false with the error set.
  bool PutBack();
  base::win::ScopedHandle OpenPackageFolder() const;
  bool Fail(const char* what, DWORD error);

  const base::FilePath source_;
  const base::FilePath target_;
  const std::vector<std::wstring> files_;
  HeldFolderTree* const held_targets_;
  bool* const exposed_;
  // The levels below the folder that its deepest file lies at.
  size_t levels_ = 0;
  base::HeldFolder::Ref parent_;
  std::optional<uint64_t> index_;
  // Whether entries took the target's lists, and whether the folder was
  // renamed into it.
  bool lists_given_ = false;
  bool renamed_ = false;
  // The folder at its new place, held until the rollback puts it back.
  base::HeldFolder::Ref moved_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_TRANSACTIONS_MOVE_PACKAGE_FOLDER_OPERATION_H_
