#include "desktop/windows/installer/transactions/move_file_operation.h"

#include <windows.h>

#include <memory>
#include <string>
#include <tuple>

#include "base/files/file_util.h"
#include "base/log_message.h"
#include "base/logging.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/journal/run_journal.h"
#include "desktop/windows/installer/testing/test_hooks.h"
#include "desktop/windows/installer/transactions/file_transfer_steps.h"
#include "desktop/windows/installer/transactions/held_folder_tree.h"
#include "desktop/windows/installer/transactions/set_aside_held_file_operation.h"
#include "desktop/windows/installer/transactions/transaction.h"

namespace installer {

namespace {

// Held from its old name on; a file held by another without delete sharing
// is not opened, and stays where it is.
constexpr DWORD kHeldMoveAccess = DELETE | READ_CONTROL | WRITE_DAC |
                                  WRITE_OWNER | FILE_WRITE_ATTRIBUTES |
                                  SYNCHRONIZE;
constexpr DWORD kHeldMoveSharing = FILE_SHARE_READ | FILE_SHARE_DELETE;

}  // namespace

MoveFileOperation::MoveFileOperation(const base::FilePath& source,
                                     const base::FilePath& target,
                                     Reach reach,
                                     Source source_kind,
                                     HeldFolderTree* held_targets)
    : source_(source),
      target_(target),
      reach_(reach),
      source_kind_(source_kind),
      held_targets_(held_targets && held_targets->Covers(target.DirName())
                        ? held_targets
                        : nullptr),
      source_held_(held_targets_ && held_targets_->Covers(source.DirName())) {}

MoveFileOperation::~MoveFileOperation() = default;

bool MoveFileOperation::Do(Transaction* sub_operations) {
  VLOG(1) << "Moving " << source_.AsUTF8() << " to " << target_.AsUTF8();
  RunJournal* journal = RunJournal::Get();
  if (!(source_kind_ == Source::kTemporary
            ? journal->RecordMovedOutOfTemporary(source_, target_)
            : journal->RecordMoved(source_, target_))) {
    return false;
  }
  // A held source has the bit cleared through its handle, once it is found.
  if (!source_held_)
    cleared_read_only_ = ClearReadOnlyAttribute(source_);
  if (held_targets_)
    return MoveIntoHeldFolder(sub_operations);
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

bool MoveFileOperation::MoveIntoHeldFolder(Transaction* sub_operations) {
  // Held from the old name on, so that the list goes on this very file
  // whatever is put at its new name meanwhile.
  if (source_held_) {
    source_folder_ =
        held_targets_->ExistingFolder(source_.DirName(), sub_operations);
  }
  const base::win::ScopedHandle file =
      !source_held_ || source_folder_
          ? OpenSource(kHeldMoveAccess, kHeldMoveSharing)
          : base::win::ScopedHandle();
  const std::wstring name = target_.BaseName().value();
  target_folder_ = file.IsValid()
                       ? held_targets_->Folder(target_.DirName(), sub_operations)
                       : nullptr;
  if (!target_folder_) {
    set_error(::GetLastError());
    PLOG(ERROR) << "Failed moving " << source_.AsUTF8();
    return false;
  }
  // The list comes first: the file is never seen at its new name with the
  // package folder's list, which the installation's users may not read,
  // and a run killed in between leaves a file its user can take away. A
  // rename within one folder shows the file to nobody new.
  DWORD error = ERROR_SUCCESS;
  if (source_folder_ != target_folder_ && source_kind_ == Source::kTemporary) {
    // A package file's own list is not read (each read is a round trip to
    // the system, for every file): the owner is given whatever it was.
    took_list_unread_ = true;
    error = base::HeldFolder::GiveSecurity(
        file.Get(), target_folder_->NewFileSecurity(), {});
  } else if (source_folder_ != target_folder_) {
    own_security_ = base::HeldFolder::ReadSecurity(file.Get());
    error = own_security_.empty()
                ? ::GetLastError()
                : base::HeldFolder::GiveSecurity(
                      file.Get(), target_folder_->NewFileSecurity(),
                      own_security_);
  }
  if (error != ERROR_SUCCESS) {
    set_error(error);
    LOG(ERROR) << "Failed giving " << target_.AsUTF8()
               << " the access list of its folder: "
               << base::SystemErrorCodeToString(error);
    return false;
  }
  moved_file_ = base::ReadFileIndex(file.Get());
  if (source_held_)
    cleared_read_only_ = ClearReadOnlyAttribute(file.Get());
  TestHooks::OnRolePoint(TestHooks::RolePoint::kMovedFile);
  if (!target_folder_->MoveInto(file.Get(), name) &&
      (::GetLastError() != ERROR_ALREADY_EXISTS ||
       !sub_operations->ExecuteOperation(
           std::make_unique<SetAsideHeldFileOperation>(target_folder_,
                                                       name)) ||
       !target_folder_->MoveInto(file.Get(), name))) {
    error = ::GetLastError();
    set_error(error != ERROR_SUCCESS ? error : sub_operations->last_error());
    LOG(ERROR) << "Failed moving " << source_.AsUTF8() << " into "
               << target_.AsUTF8() << ": "
               << base::SystemErrorCodeToString(this->error());
    // Back to its own list and bit where it stays.
    std::ignore = GiveListBack(file.Get());
    if (source_held_ && cleared_read_only_) {
      SetReadOnlyAttribute(file.Get());
      cleared_read_only_ = false;
    }
    return false;
  }
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
  if (held_targets_)
    return MoveHeldBack();
  if (reach_ == Reach::kAnyVolume)
    return base::MovePathUnchecked(target_, source_);
  return ::MoveFileExW(target_.value().c_str(), source_.value().c_str(), 0);
}

// The new folder may be a user's, who could have put another file, or a
// link to one, at the new name: only the file moved goes back into the
// package folder, with the list it had there, given before it is back so
// that nothing of a user's folder's list is ever seen in the package folder.
bool MoveFileOperation::MoveHeldBack() {
  const base::win::ScopedHandle file = target_folder_->OpenPlainFile(
      target_.BaseName().value(),
      DELETE | READ_CONTROL | WRITE_DAC | WRITE_OWNER | FILE_WRITE_ATTRIBUTES,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
  if (!file.IsValid())
    return false;
  if (!moved_file_ || base::ReadFileIndex(file.Get()) != moved_file_) {
    ::SetLastError(ERROR_FILE_NOT_FOUND);
    return false;
  }
  if (!GiveListBack(file.Get()))
    return false;
  if (!PutBack(file.Get()))
    return false;
  if (source_held_ && cleared_read_only_) {
    SetReadOnlyAttribute(file.Get());
    cleared_read_only_ = false;
  }
  return true;
}

bool MoveFileOperation::PutBack(HANDLE file) const {
  return source_folder_
             ? source_folder_->MoveInto(file, source_.BaseName().value())
             : base::RenameHeldFile(file, source_);
}

bool MoveFileOperation::GiveListBack(HANDLE file) {
  if (took_list_unread_) {
    // The package folder lies in the run's private folder.
    const base::win::ScopedHandle package(::CreateFileW(
        source_.DirName().value().c_str(), FILE_TRAVERSE | SYNCHRONIZE,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING,
        FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    const std::vector<base::HeldFolder::NewEntrySecurity> security =
        package.IsValid() ? base::HeldFolder::NewTreeSecurity(package.Get(), 1)
                          : std::vector<base::HeldFolder::NewEntrySecurity>();
    if (security.empty())
      return false;
    own_security_ = security.front().file;
    took_list_unread_ = false;
  }
  if (own_security_.empty())
    return true;
  const DWORD error = base::HeldFolder::GiveSecurity(file, own_security_);
  if (error != ERROR_SUCCESS) {
    ::SetLastError(error);
    return false;
  }
  own_security_.clear();
  return true;
}

base::win::ScopedHandle MoveFileOperation::OpenSource(DWORD access,
                                                      DWORD sharing) const {
  if (source_folder_) {
    return source_folder_->OpenPlainFile(source_.BaseName().value(), access,
                                         sharing);
  }
  return base::win::ScopedHandle(
      ::CreateFileW(source_.value().c_str(), access, sharing, nullptr,
                    OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}

void MoveFileOperation::Rollback() {
  const bool moved_back = !done_ || MoveBack();
  if (!moved_back) {
    PLOG(ERROR) << "Failed moving " << target_.AsUTF8() << " back to "
                << source_.AsUTF8();
  }
  // A file never moved takes its own list back where it is.
  if (!done_ && (!own_security_.empty() || took_list_unread_)) {
    const base::win::ScopedHandle file =
        OpenSource(READ_CONTROL | WRITE_DAC | WRITE_OWNER,
                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    if (file.IsValid())
      std::ignore = GiveListBack(file.Get());
  }
  target_folder_.reset();
  source_folder_.reset();
  if (!moved_back)
    return;
  if (cleared_read_only_)
    SetReadOnlyAttribute(source_);
}

}  // namespace installer
