#ifndef DESKTOP_WINDOWS_INSTALLER_DEAD_RUN_DOWNLOADS_H_
#define DESKTOP_WINDOWS_INSTALLER_DEAD_RUN_DOWNLOADS_H_

#include "base/files/file_path.h"

namespace installer {

// What runs that died left in the installer's temporary folder: the
// downloaded packages and the folders they were unpacked into, which only
// the run's own end removes. A run killed with its whole process tree
// leaves them for good unless the next run, whatever its mode, takes them.
class DeadRunDownloads {
 public:
  // Removes the downloads (".exe") and package folders directly in `folder`
  // whose run-folder name names a process that is gone; a live run's, every
  // log and anything else stay, and a link in the folder goes without what
  // it points to. Files a killed process held are let go a moment after its
  // end: they are tried again for about three seconds in all.
  static void RemoveFrom(const base::FilePath& folder);
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_DEAD_RUN_DOWNLOADS_H_
