#ifndef DESKTOP_WINDOWS_INSTALLER_SECURITY_PARENT_FOLDERS_CHECK_H_
#define DESKTOP_WINDOWS_INSTALLER_SECURITY_PARENT_FOLDERS_CHECK_H_

#include "base/files/file_path.h"

namespace installer {

// Whether someone other than the administrators could put a folder of their
// own in the place of a folder: whoever owns, may rename, or may delete
// entries of any folder above it, from the volume root down, can rename it
// away and put another there, during a run or after it. Shared by every
// check that lets an elevated process trust a folder for what it holds
// (the all-users installation folder, a dead run's journal folder).
class ParentFoldersCheck {
 public:
  enum class Verdict {
    // Each folder above that exists keeps what it holds for the privileged
    // (AdministratorsFolder::Ownership::keeps_entries), and the nearest one
    // passes that on to the missing ones between, still to be made.
    kKept,
    // One of them is owned by, or lets, someone else rename it or what it
    // holds.
    kReplaceable,
    // The owner or list of one of them could not be read.
    kUnreadable,
  };

  // Of the folders above `folder` ("X:\...", links resolved), each opened
  // as itself, never what a link there leads to.
  static Verdict Judge(const base::FilePath& folder);
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SECURITY_PARENT_FOLDERS_CHECK_H_
