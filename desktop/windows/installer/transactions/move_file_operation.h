#ifndef DESKTOP_WINDOWS_INSTALLER_TRANSACTIONS_MOVE_FILE_OPERATION_H_
#define DESKTOP_WINDOWS_INSTALLER_TRANSACTIONS_MOVE_FILE_OPERATION_H_

#include <windows.h>

#include <cstdint>
#include <optional>

#include <vector>

#include "base/files/file_path.h"
#include "base/files/held_folder.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/transactions/operation.h"

namespace installer {

class HeldFolderTree;

// Moves a file or folder to its target, across volumes too. A missing
// target folder is created and a file in the way set aside first, as
// sub-operations; a rollback moves the file back, after which they put
// back what was there. A file moved into a held folder takes the owner and
// access list a file made there would have, as a copy would.
class MoveFileOperation : public Operation {
 public:
  enum class Reach {
    // Across volumes too, as a copy and a deletion.
    kAnyVolume,
    // Only a rename on the same volume: fails where the move would have to
    // copy, so that the caller can copy instead and keep the source.
    kSameVolume,
  };
  enum class Source {
    // A place that stays: a recovery after a power cut puts the file back.
    kKept,
    // A folder that goes with the run (its temporary package): nothing
    // there is read again once moved, and the journal's line waits for the
    // next one brought to the disk.
    kTemporary,
  };

  // Without `held_targets` the moved file keeps its owner and access list.
  // With it (the target below its root), the file, held from its old name
  // on, is given the owner and list a new file of its held target folder
  // gets, then renamed into that folder by its single name; a file at the
  // name is set aside only when it is a plain file of one name. A rollback
  // gives the file its own list back (a package file, whose own is not
  // read: the one its package folder passes on), then moves back only the
  // very file moved, whatever lies at its new name. A source below the root too is
  // opened through its held folder as a plain file of one name (a link or
  // a second name at it is refused) and a rollback moves it back there by
  // its single name; within one held folder the file keeps its list.
  // `held_targets` outlives the operation.
  MoveFileOperation(const base::FilePath& source,
                    const base::FilePath& target,
                    Reach reach = Reach::kAnyVolume,
                    Source source_kind = Source::kKept,
                    HeldFolderTree* held_targets = nullptr);
  ~MoveFileOperation() override;

  bool Do(Transaction* sub_operations) override;
  void Rollback() override;

 private:
  bool Move();
  bool MoveBack();
  // Into a held folder: gives the held file its new list, then renames it.
  bool MoveIntoHeldFolder(Transaction* sub_operations);
  bool MoveHeldBack();
  // The source as itself: through its held folder when it has one, else by
  // its path without following a link at it.
  base::win::ScopedHandle OpenSource(DWORD access, DWORD sharing) const;
  // Back to the source's folder: by its single name into a held one.
  bool PutBack(HANDLE file) const;
  // Gives the file open on `file` the list it had before it took its new
  // folder's (a package file: the one its package folder passes on). True
  // when done, or when there is none to give back.
  bool GiveListBack(HANDLE file);

  const base::FilePath source_;
  const base::FilePath target_;
  const Reach reach_;
  const Source source_kind_;
  HeldFolderTree* const held_targets_;
  // The source lies below the held root too.
  const bool source_held_;
  // The source's held folder, while a rollback may need it.
  base::HeldFolder::Ref source_folder_;
  // The held folder the file went into, while a rollback may need it.
  base::HeldFolder::Ref target_folder_;
  // The owner and list the file had before it took its new folder's.
  std::vector<unsigned char> own_security_;
  // A package file took its new folder's list without its own being read.
  bool took_list_unread_ = false;
  bool done_ = false;
  // The index of the file moved into a held folder.
  std::optional<uint64_t> moved_file_;
  // The source was read-only and had the bit cleared.
  bool cleared_read_only_ = false;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_TRANSACTIONS_MOVE_FILE_OPERATION_H_
