#include "desktop/windows/installer/transactions/move_file_operation.h"

#include <windows.h>

#include "base/files/file_util.h"
#include "base/log_message.h"
#include "base/logging.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/journal/run_journal.h"
#include "desktop/windows/installer/testing/test_hooks.h"
#include "desktop/windows/installer/transactions/file_transfer_steps.h"
#include "desktop/windows/installer/transactions/folder_access_lists.h"

namespace installer {

MoveFileOperation::MoveFileOperation(const base::FilePath& source,
                                     const base::FilePath& target,
                                     Reach reach,
                                     Source source_kind,
                                     FolderAccessLists* target_lists)
    : source_(source),
      target_(target),
      reach_(reach),
      source_kind_(source_kind),
      target_lists_(target_lists) {}

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
  if (target_lists_)
    return MoveHeldTakingTargetList(sub_operations);
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

bool MoveFileOperation::MoveHeldTakingTargetList(Transaction* sub_operations) {
  // Held from the old name on, so that the list goes on this very file
  // whatever is put at its new name meanwhile; a file held by another
  // without delete sharing is not opened, and stays where it is.
  const base::win::ScopedHandle file(::CreateFileW(
      source_.value().c_str(), DELETE | READ_CONTROL | WRITE_DAC | SYNCHRONIZE,
      FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
      FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file.IsValid() ||
      (!base::RenameHeldFile(file.Get(), target_) &&
       (!PrepareTransferTarget(target_, sub_operations) ||
        !base::RenameHeldFile(file.Get(), target_)))) {
    set_error(::GetLastError());
    PLOG(ERROR) << "Failed moving " << source_.AsUTF8();
    return false;
  }
  done_ = true;
  // The index alone: a file of another volume could not be renamed back.
  moved_file_ = base::ReadFileIndex(file.Get());
  TestHooks::OnRolePoint(TestHooks::RolePoint::kMovedFile);
  const DWORD error = target_lists_->Give(file.Get(), target_.DirName());
  if (error == ERROR_SUCCESS)
    return true;
  // Kept where it is, the file would keep the package folder's list, which
  // the installation's users may not read.
  set_error(error);
  LOG(ERROR) << "Failed giving " << target_.AsUTF8()
             << " the access list of its folder: "
             << base::SystemErrorCodeToString(error);
  if (base::RenameHeldFile(file.Get(), source_))
    done_ = false;
  return false;
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
  if (target_lists_)
    return MoveHeldBack();
  if (reach_ == Reach::kAnyVolume)
    return base::MovePathUnchecked(target_, source_);
  return ::MoveFileExW(target_.value().c_str(), source_.value().c_str(), 0);
}

// The new folder may be a user's, who could have put another file, or a
// link to one, at the new name or on the way to it: only the file moved
// goes back into the package folder.
bool MoveFileOperation::MoveHeldBack() {
  const base::win::ScopedHandle file(::CreateFileW(
      target_.value().c_str(), DELETE | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file.IsValid())
    return false;
  if (!moved_file_ || base::ReadFileIndex(file.Get()) != moved_file_) {
    ::SetLastError(ERROR_FILE_NOT_FOUND);
    return false;
  }
  return base::RenameHeldFile(file.Get(), source_);
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
