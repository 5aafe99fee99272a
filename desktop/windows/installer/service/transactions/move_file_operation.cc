#include "desktop/windows/installer/service/transactions/move_file_operation.h"

#include "base/files/file_util.h"
#include "base/logging.h"
#include "desktop/windows/installer/service/transactions/file_transfer_steps.h"
#include "desktop/windows/installer/service/transactions/run_journal.h"

namespace installer {

MoveFileOperation::MoveFileOperation(const base::FilePath& source,
                                     const base::FilePath& target)
    : source_(source), target_(target) {}

MoveFileOperation::~MoveFileOperation() = default;

bool MoveFileOperation::Do(Transaction* sub_operations) {
  if (!PrepareTransferTarget(target_, sub_operations))
    return false;
  VLOG(1) << "Moving " << source_.AsUTF8() << "to" << target_.AsUTF8();
  cleared_read_only_ = ClearReadOnlyAttribute(source_);
  RunJournal::Get()->RecordMoved(source_, target_);
  if (!base::MovePathUnchecked(source_, target_)) {
    LOG(ERROR) << "File copy failed";
    return false;
  }
  VLOG(1) << "File copied successfully";
  done_ = true;
  return true;
}

void MoveFileOperation::Rollback() {
  if (done_ && !base::MovePathUnchecked(target_, source_))
    return;
  if (cleared_read_only_)
    SetReadOnlyAttribute(source_);
}

}  // namespace installer
