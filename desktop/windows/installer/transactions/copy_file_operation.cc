#include "desktop/windows/installer/transactions/copy_file_operation.h"

#include <windows.h>

#include <memory>
#include <string>

#include "base/files/file_util.h"
#include "base/files/new_file_in_folder.h"
#include "base/log_message.h"
#include "base/logging.h"
#include "desktop/windows/installer/journal/run_journal.h"
#include "desktop/windows/installer/transactions/file_transfer_steps.h"
#include "desktop/windows/installer/transactions/held_folder_tree.h"
#include "desktop/windows/installer/transactions/set_aside_held_file_operation.h"
#include "desktop/windows/installer/transactions/transaction.h"

namespace installer {

namespace {

constexpr DWORD kAnySharing =
    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

}  // namespace

CopyFileOperation::CopyFileOperation(const base::FilePath& source,
                                     const base::FilePath& target,
                                     HeldFolderTree* held_targets)
    : source_(source),
      target_(target),
      held_targets_(held_targets && held_targets->Covers(target.DirName())
                        ? held_targets
                        : nullptr) {}

CopyFileOperation::~CopyFileOperation() = default;

bool CopyFileOperation::Do(Transaction* sub_operations) {
  if (held_targets_)
    return CopyIntoHeldFolder(sub_operations);
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

bool CopyFileOperation::CopyIntoHeldFolder(Transaction* sub_operations) {
  VLOG(1) << "Copying " << source_.AsUTF8() << " into the held folder of "
          << target_.AsUTF8();
  target_folder_ = held_targets_->Folder(target_.DirName(), sub_operations);
  if (!target_folder_) {
    set_error(::GetLastError());
    return false;
  }
  // What is at the name goes aside first, so that the journal's line of
  // the copy stands after the set-aside's, as a recovery undoes them.
  const std::wstring name = target_.BaseName().value();
  const bool taken =
      target_folder_->OpenPlainFile(name, FILE_READ_ATTRIBUTES, kAnySharing)
          .IsValid();
  if ((!taken && ::GetLastError() != ERROR_FILE_NOT_FOUND) ||
      (taken && !sub_operations->ExecuteOperation(
                    std::make_unique<SetAsideHeldFileOperation>(target_folder_,
                                                                name)))) {
    set_error(taken ? sub_operations->last_error() : ::GetLastError());
    LOG(ERROR) << "Refusing to copy over " << target_.AsUTF8() << ": "
               << base::SystemErrorCodeToString(error());
    return false;
  }
  if (!RunJournal::Get()->RecordCreated(target_))
    return false;
  const base::win::ScopedHandle copy =
      target_folder_->CreateNewFile(name, GENERIC_WRITE | DELETE, 0);
  if (!copy.IsValid()) {
    set_error(::GetLastError());
    LOG(ERROR) << "Failed making the copy " << target_.AsUTF8() << ": "
               << base::SystemErrorCodeToString(error());
    return false;
  }
  made_file_ = base::ReadFileIndex(copy.Get());
  copy_started_ = true;
  // A source in a folder a user may write (a staged copy beside the
  // installation) is read only as the plain file of its name: never what a
  // link put there leads to, which the user may not read themselves.
  const base::win::ScopedHandle source =
      base::NewFileInFolder::OpenToRead(source_.value());
  if (!source.IsValid() || !base::CopyFileIntoHandle(source.Get(), copy.Get())) {
    set_error(::GetLastError());
    LOG(ERROR) << "File copy failed "
               << base::SystemErrorCodeToString(error());
    return false;
  }
  return true;
}

// Known again by its index: whatever a user put at the name since stays.
void CopyFileOperation::DeleteHeldCopy() {
  const base::win::ScopedHandle copy = target_folder_->OpenPlainFile(
      target_.BaseName().value(), DELETE | FILE_WRITE_ATTRIBUTES, kAnySharing);
  FILE_DISPOSITION_INFO disposition = {};
  disposition.DeleteFile = TRUE;
  if (!copy.IsValid() || !made_file_ ||
      base::ReadFileIndex(copy.Get()) != made_file_ ||
      !::SetFileInformationByHandle(copy.Get(), FileDispositionInfo,
                                    &disposition, sizeof(disposition))) {
    PLOG(ERROR) << "Failed removing the copy " << target_.AsUTF8();
  }
}

void CopyFileOperation::Rollback() {
  if (held_targets_) {
    if (copy_started_ && target_folder_)
      DeleteHeldCopy();
    target_folder_.reset();
    return;
  }
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
