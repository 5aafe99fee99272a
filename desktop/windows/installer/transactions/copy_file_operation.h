#ifndef DESKTOP_WINDOWS_INSTALLER_TRANSACTIONS_COPY_FILE_OPERATION_H_
#define DESKTOP_WINDOWS_INSTALLER_TRANSACTIONS_COPY_FILE_OPERATION_H_

#include <cstdint>
#include <optional>

#include "base/files/file_path.h"
#include "base/files/held_folder.h"
#include "desktop/windows/installer/transactions/operation.h"

namespace installer {

class HeldFolderTree;

// Copies a file over its target. A missing target folder is created and a
// file in the way set aside first, as sub-operations; a rollback deletes
// the copy, also one cut short (a full disk), after which they put back
// what was there.
class CopyFileOperation : public Operation {
 public:
  // With `held_targets` (the target below its root), the copy is made new
  // by its single name in its held folder, never through a link, and a file
  // at the name is set aside only when it is a plain file of one name; a
  // rollback deletes only the very file made. `held_targets` outlives the
  // operation.
  CopyFileOperation(const base::FilePath& source,
                    const base::FilePath& target,
                    HeldFolderTree* held_targets = nullptr);
  ~CopyFileOperation() override;

  bool Do(Transaction* sub_operations) override;
  void Rollback() override;

 private:
  bool CopyIntoHeldFolder(Transaction* sub_operations);
  void DeleteHeldCopy();

  const base::FilePath source_;
  const base::FilePath target_;
  HeldFolderTree* const held_targets_;
  base::HeldFolder::Ref target_folder_;
  // The index of the copy made in a held folder.
  std::optional<uint64_t> made_file_;
  // The copy was tried: a file at the target is its own, whole or partial.
  bool copy_started_ = false;
  // The source was read-only and had the bit cleared.
  bool cleared_read_only_ = false;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_TRANSACTIONS_COPY_FILE_OPERATION_H_
