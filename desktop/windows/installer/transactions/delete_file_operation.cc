#include "desktop/windows/installer/transactions/delete_file_operation.h"

#include <windows.h>

#include <aclapi.h>

#include <cstdint>
#include <string>
#include <utility>

#include "base/files/file_util.h"
#include "base/files/final_path.h"
#include "base/files/resolved_entry.h"
#include "base/log_message.h"
#include "base/logging.h"
#include "base/strings/string_util.h"
#include "base/time/time.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/journal/run_journal.h"
#include "desktop/windows/installer/product/install_folder_names.h"

namespace installer {

namespace {

// FILE_GENERIC_WRITE with DELETE: what setting the file aside needs.
constexpr DWORD kWriteAndDeleteAccess = 0x130116;

bool OpenForWriting(const base::FilePath& path) {
  base::win::ScopedHandle file(
      ::CreateFileW(path.value().c_str(), GENERIC_WRITE, FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  return file.IsValid();
}

DeleteFileOperation::SystemCalls g_system_calls = {
    &OpenForWriting, &CheckAccessToPath, &GrantAccessToCurrentUserThroughFile,
    &RestoreSecurityInfoThroughFile};

bool IsExecutableOrLibrary(const base::FilePath& path) {
  const std::wstring extension = path.GetExtension();
  return base::WideLowerCaseEqualsAscii(extension, ".exe") ||
         base::WideLowerCaseEqualsAscii(extension, ".dll");
}

// Set-aside names are made of whole seconds: a path deleted twice within
// one second needs a second name, and so does one whose first name a
// previous run left behind.
base::FilePath AsidePath(const base::FilePath& path,
                         int64_t seconds,
                         int attempt) {
  std::wstring extension = std::to_wstring(seconds);
  if (attempt > 0)
    extension += L"_" + std::to_wstring(attempt);
  return path.AddExtension(extension + kSetAsideExtension);
}

// The file or folder judged to lie at `final_path`, opened by `path` as
// itself with `access`, for what is done to it (its access list changed,
// a folder renamed) to go through the handle: refused for a link, for what
// lies elsewhere than judged (Wine follows a link whatever the flags say),
// and for a file with a second name, which may be someone else's (a hard
// link a user made to a file they may not change): a grant would change
// that file's owner and list too.
base::win::ScopedHandle OpenAsJudged(const base::FilePath& path,
                                     const base::FilePath& final_path,
                                     DWORD access) {
  base::win::ScopedHandle file(::CreateFileW(
      path.value().c_str(), FILE_READ_ATTRIBUTES | access,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS,
      nullptr));
  FILE_ATTRIBUTE_TAG_INFO tag = {};
  FILE_STANDARD_INFO standard = {};
  if (!file.IsValid() ||
      !::GetFileInformationByHandleEx(file.Get(), FileAttributeTagInfo, &tag,
                                      sizeof(tag)) ||
      !::GetFileInformationByHandleEx(file.Get(), FileStandardInfo, &standard,
                                      sizeof(standard)) ||
      (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
      (!standard.Directory && standard.NumberOfLinks != 1) ||
      base::FilePath::CompareIgnoreCase(
          base::FilePath(base::GetFinalPath(file.Get(), path.value())),
          final_path) != 0) {
    return base::win::ScopedHandle();
  }
  return file;
}

// The folder judged to lie at `final_path`, reached by `path`, renamed to
// `name` in the folder it lies in, named relative to that folder's handle:
// a link put at the name or on the way since moves nothing.
bool RenameFolderWithin(const base::FilePath& path,
                        const base::FilePath& final_path,
                        const base::FilePath& name) {
  const base::win::ScopedHandle folder = OpenAsJudged(path, final_path, DELETE);
  const base::win::ScopedHandle parent =
      base::OpenFolderAtFinalPath(final_path.DirName());
  if (!folder.IsValid() || !parent.IsValid()) {
    ::SetLastError(ERROR_CANT_ACCESS_FILE);
    return false;
  }
  return base::RenameIntoFolder(folder.Get(), parent.Get(), name.value());
}

}  // namespace

DeleteFileOperation::DeleteFileOperation(
    const base::FilePath& path,
    bool check_in_use,
    bool remove_empty_parents,
    const base::FilePath& outermost_parent)
    : path_(path),
      check_in_use_(check_in_use),
      remove_empty_parents_(remove_empty_parents),
      outermost_parent_(outermost_parent) {}

DeleteFileOperation::DeleteFileOperation(
    base::ResolvedEntry judged,
    bool check_in_use,
    bool remove_empty_parents,
    const base::FilePath& outermost_parent)
    : path_(judged.path()),
      check_in_use_(check_in_use),
      remove_empty_parents_(remove_empty_parents),
      outermost_parent_(outermost_parent),
      judged_(std::move(judged)) {}

DeleteFileOperation::~DeleteFileOperation() {
  // Let go first: the file goes once its last handle is closed.
  granted_file_.Close();
  if (rolled_back_)
    return;
  if (is_link_) {
    RemoveLink();
  } else if (moved_) {
    VLOG(1) << "Actual removal of " << aside_path_.AsUTF8();
    if (!DeleteAside() &&
        ::GetLastError() != ERROR_CANT_ACCESS_FILE &&
        aside_path_.value().size() < MAX_PATH) {
      ::MoveFileExW(aside_path_.value().c_str(), nullptr,
                    MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING);
    }
  }
}

bool DeleteFileOperation::Do(Transaction* sub_operations) {
  VLOG(1) << "Preparing file " << path_.AsUTF8() << " for removal";
  if (!judged_) {
    judged_ = base::ResolvedEntry::Resolve(
        path_, base::ResolvedEntry::Purpose::kToDelete);
  }
  if (judged_->kind() == base::ResolvedEntry::Kind::kUnknown &&
      judged_->error() == ERROR_ACCESS_DENIED) {
    // An access list that denies deleting: judged without asking for it.
    // The set-aside grants the access and then judges the file again on
    // the handle that moves it.
    judged_ = base::ResolvedEntry::Resolve(path_);
  }
  const base::ResolvedEntry& entry = *judged_;
  // Plain or a link, the entry is named by its folder's final path.
  if (entry.kind() == base::ResolvedEntry::Kind::kPlain ||
      entry.kind() == base::ResolvedEntry::Kind::kLink) {
    folder_final_path_ = entry.path().DirName();
  }
  switch (entry.kind()) {
    case base::ResolvedEntry::Kind::kMissing:
      VLOG(1) << "File does not exist. Nothing to do";
      return true;
    case base::ResolvedEntry::Kind::kUnknown:
      set_error(entry.error());
      LOG(ERROR) << "Cannot tell what " << path_.AsUTF8() << " is: "
                 << base::SystemErrorCodeToString(error());
      return false;
    case base::ResolvedEntry::Kind::kLink:
      // Neither set aside nor granted access: each would act on what the
      // link leads to. Nothing changes until the commit, so a rollback has
      // nothing to undo.
      LOG(WARNING) << "Removing the link " << path_.AsUTF8()
                   << " at the end, never what it leads to";
      is_link_ = true;
      return true;
    case base::ResolvedEntry::Kind::kPlain:
      break;
  }
  if (!SetAside())
    return false;
  VLOG(1) << "File moved successfully to " << aside_path_.AsUTF8();
  if (!check_in_use_ || !IsExecutableOrLibrary(path_))
    return true;
  if (g_system_calls.open_for_writing(aside_path_))
    return true;
  // Read before the log line, whose writing may change it.
  set_error(::GetLastError());
  LOG(ERROR) << "Attempt to open the file for writing failed: "
             << base::SystemErrorCodeToString(error());
  // Should the move back fail too, `moved_` stays set and the rollback,
  // which always follows a failed `Do`, tries again.
  if (!MoveBack())
    PLOG(ERROR) << "Cannot move " << aside_path_.AsUTF8() << " back yet";
  LOG(ERROR) << "File removal failed";
  return false;
}

void DeleteFileOperation::Rollback() {
  rolled_back_ = true;
  judged_.reset();
  if (moved_ && !MoveBack()) {
    PLOG(ERROR) << "Cannot move " << aside_path_.AsUTF8() << " back to "
                << path_.AsUTF8();
    // The set-aside file is the only copy left, and only the journal
    // tells a later run where it belongs.
    RunJournal::Get()->KeepForRecovery();
  }
  if (saved_security_) {
    // The list goes back only now: it may deny what the move back needed.
    // Through the file granted, wherever it lies and whatever its names
    // lead to now.
    if (!g_system_calls.restore_access(granted_file_.Get(),
                                       saved_security_.get())) {
      PLOG(ERROR) << "Cannot give " << path_.AsUTF8()
                  << " its access list back";
    }
    saved_security_.reset();
  }
  granted_file_.Close();
}

bool DeleteFileOperation::MoveBack() {
  // A folder has no identity kept: moved back by its handle, opened as the
  // folder set aside, unless a link took that name.
  if (!aside_id_) {
    if (base::ResolvedEntry::Resolve(aside_path_).kind() ==
        base::ResolvedEntry::Kind::kLink) {
      LOG(ERROR) << "Not moving back " << aside_path_.AsUTF8()
                 << ", which is now a link";
    } else if (!RenameFolderWithin(
                   aside_path_,
                   folder_final_path_.Append(aside_path_.BaseName().value()),
                   path_.BaseName())) {
      return false;
    }
    moved_ = false;
    return true;
  }
  base::ResolvedEntry entry =
      base::ResolvedEntry::ReopenJudgedFile(aside_path_, *aside_id_);
  switch (entry.kind()) {
    case base::ResolvedEntry::Kind::kPlain:
      // Named within the folder it was set aside in, never through a link
      // put on the way since; over a file put at its name meanwhile, as
      // the deletion had never been.
      if (!entry.RenameJudgedFileInFolder(aside_id_->folder,
                                          path_.BaseName().value(),
                                          /*replace=*/true)) {
        return false;
      }
      break;
    case base::ResolvedEntry::Kind::kLink:
      // Another file took the set-aside name: moving that back would move
      // what it leads to, or someone else's file.
      LOG(ERROR) << "Not moving back " << aside_path_.AsUTF8()
                 << ", which is no longer the file set aside";
      break;
    case base::ResolvedEntry::Kind::kMissing:
      break;
    case base::ResolvedEntry::Kind::kUnknown:
      ::SetLastError(entry.error());
      return false;
  }
  moved_ = false;
  return true;
}

Operation::EmptiedFolder DeleteFileOperation::GetEmptiedFolder() const {
  if (!remove_empty_parents_ || rolled_back_ || !(moved_ || is_link_))
    return EmptiedFolder();
  return {folder_final_path_, outermost_parent_};
}

void DeleteFileOperation::RemoveLink() {
  // Judged again: a plain file put there since stays, as it was never
  // set aside.
  if (base::ResolvedEntry::Resolve(path_).kind() !=
      base::ResolvedEntry::Kind::kLink) {
    return;
  }
  if (!base::DeletePath(path_, false))
    LOG(WARNING) << "Left the link " << path_.AsUTF8();
}

bool DeleteFileOperation::SetAside() {
  const int64_t seconds = base::Time::Now().ToTimeT();
  for (int attempt = 0;; ++attempt) {
    aside_path_ = AsidePath(path_, seconds, attempt);
    if (!base::PathExists(aside_path_))
      break;
    if (attempt + 1 == kSetAsideAttempts) {
      LOG(ERROR) << "Temporary file with name" << aside_path_.AsUTF8()
                 << "already exists";
      return false;
    }
  }
  // With the access granted the file is set aside at once; the access list
  // from before goes back if the deletion is undone.
  if (!g_system_calls.check_access(path_.value(), SE_FILE_OBJECT,
                                   kWriteAndDeleteAccess) &&
      !GrantAccess()) {
    set_error(ERROR_ACCESS_DENIED);
    LOG(ERROR) << "Cannot obtain proper permissions on the file, or it has "
                  "another name";
    return false;
  }
  if (!RunJournal::Get()->RecordSetAside(path_, aside_path_)) {
    // The journal's error (logged where its write failed): the folder
    // cannot be written, which no caller may take for a file in use. A
    // journal lost earlier leaves none, and the write is refused all the
    // same.
    const DWORD error = ::GetLastError();
    set_error(error != ERROR_SUCCESS ? error : ERROR_WRITE_FAULT);
    return false;
  }
  if (!MoveAside()) {
    set_error(::GetLastError());
    LOG(ERROR) << "File removal failed: "
               << base::SystemErrorCodeToString(error());
    return false;
  }
  moved_ = true;
  return true;
}

bool DeleteFileOperation::GrantAccess() {
  granted_file_ = OpenAsJudged(path_, judged_->path(), 0);
  if (granted_file_.IsValid() &&
      g_system_calls.grant_access(granted_file_.Get(), kWriteAndDeleteAccess,
                                  &saved_security_)) {
    return true;
  }
  granted_file_.Close();
  return false;
}

bool DeleteFileOperation::MoveAside() {
  // Moved through the handle that judged it, wherever its name leads now,
  // within the folder it was judged in (a link planted on the way of the
  // whole path since would take it elsewhere), and closed: the commit knows
  // the file again by its identity.
  if (judged_ && judged_->holds_handle()) {
    aside_id_ = judged_->GetFileId();
    const bool renamed =
        aside_id_ && judged_->RenameJudgedFileInFolder(
                         aside_id_->folder, aside_path_.BaseName().value());
    const DWORD error = ::GetLastError();
    judged_.reset();
    if (!renamed)
      aside_id_.reset();
    ::SetLastError(error);
    return renamed;
  }
  judged_.reset();
  // A folder, or a file judged without its deleting handle: judged again on
  // the handle that moves it, so that a name swapped for a link since `Do`
  // judged it is not moved, which would move what it leads to.
  base::ResolvedEntry entry = base::ResolvedEntry::Resolve(
      path_, base::ResolvedEntry::Purpose::kToDelete);
  switch (entry.kind()) {
    case base::ResolvedEntry::Kind::kPlain:
      break;
    case base::ResolvedEntry::Kind::kUnknown:
      ::SetLastError(entry.error());
      return false;
    case base::ResolvedEntry::Kind::kMissing:
    case base::ResolvedEntry::Kind::kLink:
      ::SetLastError(ERROR_CANT_ACCESS_FILE);
      return false;
  }
  // The name now reaches another folder than the one judged: a link was
  // put on the way since.
  if (base::FilePath::CompareIgnoreCase(entry.path().DirName(),
                                        folder_final_path_) != 0) {
    ::SetLastError(ERROR_CANT_ACCESS_FILE);
    return false;
  }
  // A folder has no deleting handle of its judgement: opened again as
  // itself, where it was judged, to be renamed through that handle.
  if (entry.is_directory()) {
    return RenameFolderWithin(path_, entry.path(), aside_path_.BaseName());
  }
  aside_id_ = entry.GetFileId();
  if (aside_id_ && entry.RenameJudgedFileInFolder(
                       aside_id_->folder, aside_path_.BaseName().value())) {
    return true;
  }
  aside_id_.reset();
  return false;
}

bool DeleteFileOperation::DeleteAside() {
  // A folder, or a file whose identity could not be read: deleted as the
  // recursive delete does, judging each name.
  if (!aside_id_)
    return base::DeletePath(aside_path_, true);
  base::ResolvedEntry entry =
      base::ResolvedEntry::ReopenJudgedFile(aside_path_, *aside_id_);
  switch (entry.kind()) {
    case base::ResolvedEntry::Kind::kPlain:
      return entry.DeleteJudgedFile();
    case base::ResolvedEntry::Kind::kMissing:
      return true;
    case base::ResolvedEntry::Kind::kUnknown:
      ::SetLastError(entry.error());
      return false;
    case base::ResolvedEntry::Kind::kLink:
      // Another file took the set-aside name: it is not this deletion's.
      LOG(ERROR) << "Left " << aside_path_.AsUTF8()
                 << ", which is no longer the file set aside";
      ::SetLastError(ERROR_CANT_ACCESS_FILE);
      return false;
  }
  return false;
}

// static
DeleteFileOperation::SystemCalls DeleteFileOperation::SwapSystemCallsForTesting(
    const SystemCalls& calls) {
  const SystemCalls previous = g_system_calls;
  g_system_calls = calls;
  return previous;
}

std::unique_ptr<Operation> MakeDeleteFileOperation(
    const base::FilePath& path,
    bool check_in_use,
    bool remove_empty_parents,
    const base::FilePath& outermost_parent) {
  return std::make_unique<DeleteFileOperation>(
      path, check_in_use, remove_empty_parents, outermost_parent);
}

std::unique_ptr<Operation> MakeDeleteFileOperation(
    base::ResolvedEntry judged,
    bool check_in_use,
    bool remove_empty_parents,
    const base::FilePath& outermost_parent) {
  return std::make_unique<DeleteFileOperation>(
      std::move(judged), check_in_use, remove_empty_parents, outermost_parent);
}

}  // namespace installer
