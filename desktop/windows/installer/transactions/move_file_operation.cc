#include "desktop/windows/installer/transactions/move_file_operation.h"

#include <windows.h>

#include "base/files/file_util.h"
#include "base/log_message.h"
#include "base/logging.h"
#include "desktop/windows/installer/journal/run_journal.h"
#include "desktop/windows/installer/transactions/file_transfer_steps.h"

namespace installer {

MoveFileOperation::MoveFileOperation(const base::FilePath& source,
                                     const base::FilePath& target,
                                     Reach reach,
                                     Source source_kind)
    : source_(source),
      target_(target),
      reach_(reach),
      source_kind_(source_kind) {}

MoveFileOperation::~MoveFileOperation() = default;

bool MoveFileOperation::Do(Transaction* sub_operations) {
  VLOG(1) << "Moving " << source_.AsUTF8() << " to " << target_.AsUTF8();
  RunJournal* journal = RunJournal::Get();
  if (!(source_kind_ == Source::kTemporary
            ? journal->RecordMovedOutOfTemporary(source_, target_)
            : journal->RecordMoved(source_, target_))) {
    return false;
  }
  cleared_read_only_ = ClearReadOnlyAttribute(source_);
  // A rename to a free name in an existing folder, the usual case, needs no
  // look at the target first: each name Wine looks up and does not find
  // costs a scan of its folder. Anything else takes the long way.
  if (reach_ == Reach::kSameVolume &&
      ::MoveFileExW(source_.value().c_str(), target_.value().c_str(), 0)) {
    done_ = true;
    return true;
  }
  if (!PrepareTransferTarget(target_, sub_operations))
    return false;
  if (!Move()) {
    LOG(ERROR) << "File move failed "
               << base::SystemErrorCodeToString(::GetLastError());
    return false;
  }
  VLOG(1) << "File moved successfully";
  done_ = true;
  return true;
}

bool MoveFileOperation::Move() {
  if (reach_ == Reach::kAnyVolume)
    return base::MovePathUnchecked(source_, target_);
  // The target was set aside first: nothing is in the way to replace.
  return ::MoveFileExW(source_.value().c_str(), target_.value().c_str(), 0);
}

// Back the way it came: a rename spells the paths as the move did, also a
// path longer than the checked helpers take.
bool MoveFileOperation::MoveBack() {
  if (reach_ == Reach::kAnyVolume)
    return base::MovePathUnchecked(target_, source_);
  return ::MoveFileExW(target_.value().c_str(), source_.value().c_str(), 0);
}

void MoveFileOperation::Rollback() {
  if (done_ && !MoveBack()) {
    PLOG(ERROR) << "Failed moving " << target_.AsUTF8() << " back to "
                << source_.AsUTF8();
    return;
  }
  if (cleared_read_only_)
    SetReadOnlyAttribute(source_);
}

}  // namespace installer
