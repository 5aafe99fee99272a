#ifndef DESKTOP_WINDOWS_INSTALLER_TRANSACTIONS_MOVE_FILE_OPERATION_H_
#define DESKTOP_WINDOWS_INSTALLER_TRANSACTIONS_MOVE_FILE_OPERATION_H_

#include <windows.h>

#include <cstdint>
#include <optional>

#include "base/files/file_path.h"
#include "desktop/windows/installer/transactions/operation.h"

namespace installer {

class FolderAccessLists;

// Moves a file or folder to its target, across volumes too. A missing
// target folder is created and a file in the way set aside first, as
// sub-operations; a rollback moves the file back, after which they put
// back what was there. A file may take the access list of its new folder,
// as a copy made there would have it.
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

  // Without `target_lists` the moved file keeps its access list. With it,
  // a file moved on the same volume, held from its old name on, is given
  // the list that its new folder passes on to a new file; where that cannot
  // be set it goes back and the move fails. A rollback then moves back only
  // the very file moved, whatever lies at its new name. `target_lists`
  // outlives the operation's Do().
  MoveFileOperation(const base::FilePath& source,
                    const base::FilePath& target,
                    Reach reach = Reach::kAnyVolume,
                    Source source_kind = Source::kKept,
                    FolderAccessLists* target_lists = nullptr);
  ~MoveFileOperation() override;

  bool Do(Transaction* sub_operations) override;
  void Rollback() override;

 private:
  bool Move();
  bool MoveBack();
  // With target lists: renames the held file, then sets its list.
  bool MoveHeldTakingTargetList(Transaction* sub_operations);
  bool MoveHeldBack();

  const base::FilePath source_;
  const base::FilePath target_;
  const Reach reach_;
  const Source source_kind_;
  FolderAccessLists* const target_lists_;
  bool done_ = false;
  // The index of the file moved with target lists.
  std::optional<uint64_t> moved_file_;
  // The source was read-only and had the bit cleared.
  bool cleared_read_only_ = false;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_TRANSACTIONS_MOVE_FILE_OPERATION_H_
