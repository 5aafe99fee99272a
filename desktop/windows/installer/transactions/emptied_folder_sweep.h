#ifndef DESKTOP_WINDOWS_INSTALLER_TRANSACTIONS_EMPTIED_FOLDER_SWEEP_H_
#define DESKTOP_WINDOWS_INSTALLER_TRANSACTIONS_EMPTIED_FOLDER_SWEEP_H_

#include <map>

#include "base/files/file_path.h"
#include "desktop/windows/installer/transactions/operation.h"

namespace installer {

// The folders a commit emptied, removed once every operation is committed:
// deepest first, each once, and each only while it is empty and still the
// folder it was when its file was judged (base::RemoveEmptyFolderAt), never
// through a link put in the place of a folder since. A folder removed makes
// its parent the next to try, so each chain ends at the first folder that
// stays, or at its outermost folder: never one above the installation the
// files were deleted from. Lives on the transaction's thread, for one
// commit.
class EmptiedFolderSweep {
 public:
  EmptiedFolderSweep();
  ~EmptiedFolderSweep();
  EmptiedFolderSweep(const EmptiedFolderSweep&) = delete;
  EmptiedFolderSweep& operator=(const EmptiedFolderSweep&) = delete;

  // An empty folder adds nothing, nor does one that does not lie in its
  // outermost folder.
  void Add(const Operation::EmptiedFolder& emptied);
  // Removes what it can; the number of folders removed.
  size_t Run();

 private:
  struct DeepestFirst {
    bool operator()(const base::FilePath& a, const base::FilePath& b) const;
  };

  // The folders to try, each with the outermost folder its chain reaches.
  std::map<base::FilePath, base::FilePath, DeepestFirst> pending_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_TRANSACTIONS_EMPTIED_FOLDER_SWEEP_H_
