#include "desktop/windows/installer/transactions/copy_file_operation.h"

#include <windows.h>

#include "base/files/file_util.h"
#include "base/log_message.h"
#include "base/logging.h"
#include "desktop/windows/installer/journal/run_journal.h"
#include "desktop/windows/installer/transactions/file_transfer_steps.h"
#include "desktop/windows/installer/transactions/transaction.h"

namespace installer {

CopyFileOperation::CopyFileOperation(const base::FilePath& source,
                                     const base::FilePath& target)
    : source_(source), target_(target) {}

CopyFileOperation::~CopyFileOperation() = default;

bool CopyFileOperation::Do(Transaction* sub_operations) {
  if (!PrepareTransferTarget(target_, sub_operations)) {
    set_error(sub_operations->last_error());
    return false;
  }
  VLOG(1) << "Copying " << source_.AsUTF8() << " to " << target_.AsUTF8();
  if (!RunJournal::Get()->RecordCreated(target_))
    return false;
  cleared_read_only_ = ClearReadOnlyAttribute(source_);
  // Whatever was at the target has been set aside: from here a file there
  // is this copy's, also one that a full disk cut short.
  copy_started_ = true;
  // A path refused before any system call leaves no error of its own.
  ::SetLastError(ERROR_SUCCESS);
  if (!base::CopyFileChecked(source_, target_)) {
    set_error(::GetLastError());
    LOG(ERROR) << "File copy failed "
               << base::SystemErrorCodeToString(error());
    return false;
  }
  VLOG(1) << "File copied successfully";
  return true;
}

void CopyFileOperation::Rollback() {
  // Not DeletePath: a target name with wildcards that the copy refused
  // must not widen into a deletion of whatever matches it.
  if (copy_started_ && !::DeleteFileW(target_.value().c_str()) &&
      ::GetLastError() != ERROR_FILE_NOT_FOUND &&
      ::GetLastError() != ERROR_PATH_NOT_FOUND) {
    PLOG(ERROR) << "Failed removing the copy " << target_.AsUTF8();
  }
  if (cleared_read_only_)
    SetReadOnlyAttribute(source_);
}

}  // namespace installer
