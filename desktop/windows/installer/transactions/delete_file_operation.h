#ifndef DESKTOP_WINDOWS_INSTALLER_TRANSACTIONS_DELETE_FILE_OPERATION_H_
#define DESKTOP_WINDOWS_INSTALLER_TRANSACTIONS_DELETE_FILE_OPERATION_H_

#include <memory>
#include <optional>

#include "base/files/file_path.h"
#include "base/files/resolved_entry.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/security/access_permissions.h"
#include "desktop/windows/installer/transactions/operation.h"

namespace installer {

// Deletes a file or folder in two steps: `Do` moves it aside, under its own
// name with "." + seconds since 1970 + ".old" appended, so that a rollback
// can put it back; only the commit (the destructor) removes it for good.
// A link (base::ResolvedEntry) is neither moved nor granted access: the
// commit removes the link itself, or leaves it where the platform cannot
// without reaching what it leads to (Wine).
class DeleteFileOperation : public Operation {
 public:
  // `check_in_use`: an ".exe" or ".dll" must also be free to be opened for
  // writing once set aside, else the deletion fails and it goes back.
  // `remove_empty_parents`: the transaction that commits the deletion also
  // removes the file's folder and those above it, as long as they are
  // empty and still the folders they were when the file was judged
  // (GetEmptiedFolder), up to `outermost_parent` (by its final path: the
  // installation folder) where one is given.
  DeleteFileOperation(const base::FilePath& path,
                      bool check_in_use,
                      bool remove_empty_parents,
                      const base::FilePath& outermost_parent = {});
  // The same for an entry the caller has judged for deletion
  // (base::ResolvedEntry::Purpose::kToDelete): it is not judged again.
  DeleteFileOperation(base::ResolvedEntry judged,
                      bool check_in_use,
                      bool remove_empty_parents,
                      const base::FilePath& outermost_parent = {});
  ~DeleteFileOperation() override;

  bool Do(Transaction* sub_operations) override;
  void Rollback() override;
  EmptiedFolder GetEmptiedFolder() const override;

  // The system calls that tests replace where Wine cannot act as Windows
  // does: it keeps a file's access list only as Unix mode bits, and nothing
  // can take a file's name at the exact moment between two steps.
  struct SystemCalls {
    // Whether the set-aside file can be opened for writing.
    bool (*open_for_writing)(const base::FilePath& path);
    decltype(&CheckAccessToPath) check_access;
    decltype(&GrantAccessToCurrentUserThroughFile) grant_access;
    decltype(&RestoreSecurityInfoThroughFile) restore_access;
  };
  // Tests only: installs `calls` and returns those they replace.
  static SystemCalls SwapSystemCallsForTesting(const SystemCalls& calls);

 private:
  bool SetAside();
  // Grants this process write and delete access on the judged file through
  // a handle of it, kept for the list to go back through.
  [[nodiscard]] bool GrantAccess();
  [[nodiscard]] bool MoveAside();
  // The set-aside file back under its name in the folder it was set aside
  // in; true also when nothing of this deletion lies at the set-aside name
  // any more. False with the Windows error.
  [[nodiscard]] bool MoveBack();
  // The set-aside file deleted for good; false with the Windows error.
  [[nodiscard]] bool DeleteAside();
  void RemoveLink();

  const base::FilePath path_;
  const bool check_in_use_;
  const bool remove_empty_parents_;
  const base::FilePath outermost_parent_;
  // The one judgement of `path_`, until the file is set aside through its
  // handle; closed then, as thousands of files may be set aside at once.
  std::optional<base::ResolvedEntry> judged_;
  // The set-aside file, known again by its identity when the commit deletes
  // it, instead of by another judgement of its name.
  std::optional<base::ResolvedEntry::FileId> aside_id_;
  base::FilePath aside_path_;
  // Where the path's folder lay when `Do` judged the path: what the commit
  // may leave empty, known without judging it again.
  base::FilePath folder_final_path_;
  // The file lies at `aside_path_`.
  bool moved_ = false;
  // `path_` is a link, for the commit to remove.
  bool is_link_ = false;
  // Once a rollback ran, the commit removes nothing: if the move back
  // failed, the set-aside file is the only copy left.
  bool rolled_back_ = false;
  // The access list from before the access this operation had to grant
  // itself; written back when the deletion is undone.
  std::unique_ptr<SavedSecurityInfo> saved_security_;
  // The file that access was granted on, opened as itself: its list goes
  // back through it, wherever its name leads by then.
  base::win::ScopedHandle granted_file_;
};

std::unique_ptr<Operation> MakeDeleteFileOperation(
    const base::FilePath& path,
    bool check_in_use,
    bool remove_empty_parents,
    const base::FilePath& outermost_parent = {});
std::unique_ptr<Operation> MakeDeleteFileOperation(
    base::ResolvedEntry judged,
    bool check_in_use,
    bool remove_empty_parents,
    const base::FilePath& outermost_parent = {});

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_TRANSACTIONS_DELETE_FILE_OPERATION_H_
