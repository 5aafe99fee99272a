#ifndef DESKTOP_WINDOWS_INSTALLER_TRANSACTIONS_COPY_FILE_OPERATION_H_
#define DESKTOP_WINDOWS_INSTALLER_TRANSACTIONS_COPY_FILE_OPERATION_H_

#include "base/files/file_path.h"
#include "desktop/windows/installer/transactions/operation.h"

namespace installer {

// Copies a file over its target. A missing target folder is created and a
// file in the way set aside first, as sub-operations; a rollback deletes
// the copy, also one cut short (a full disk), after which they put back
// what was there.
class CopyFileOperation : public Operation {
 public:
  CopyFileOperation(const base::FilePath& source, const base::FilePath& target);
  ~CopyFileOperation() override;

  bool Do(Transaction* sub_operations) override;
  void Rollback() override;

 private:
  const base::FilePath source_;
  const base::FilePath target_;
  // The copy was tried: a file at the target is its own, whole or partial.
  bool copy_started_ = false;
  // The source was read-only and had the bit cleared.
  bool cleared_read_only_ = false;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_TRANSACTIONS_COPY_FILE_OPERATION_H_
