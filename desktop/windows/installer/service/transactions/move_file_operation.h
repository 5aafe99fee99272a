#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_MOVE_FILE_OPERATION_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_MOVE_FILE_OPERATION_H_

#include "base/files/file_path.h"
#include "desktop/windows/installer/service/transactions/operation.h"

namespace installer {

// Moves a file or folder to its target, across volumes too. A missing
// target folder is created and a file in the way set aside first, as
// sub-operations; a rollback moves the file back, after which they put
// back what was there.
class MoveFileOperation : public Operation {
 public:
  MoveFileOperation(const base::FilePath& source, const base::FilePath& target);
  ~MoveFileOperation() override;

  bool Do(Transaction* sub_operations) override;
  void Rollback() override;

 private:
  const base::FilePath source_;
  const base::FilePath target_;
  bool done_ = false;
  // The source was read-only and had the bit cleared.
  bool cleared_read_only_ = false;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_MOVE_FILE_OPERATION_H_
