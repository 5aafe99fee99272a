#ifndef DESKTOP_WINDOWS_INSTALLER_RECOVERY_DEAD_RUN_DOWNLOADS_H_
#define DESKTOP_WINDOWS_INSTALLER_RECOVERY_DEAD_RUN_DOWNLOADS_H_

#include "base/files/file_path.h"

namespace installer {

// What runs that died left in the installer's temporary folder: the
// downloads of each try, the additional file on its way and the folders
// the packages were unpacked into, which only the run's own end removes. A
// run killed with its whole process tree leaves them for good unless the
// next run, whatever its mode, takes them.
class DeadRunDownloads {
 public:
  // Removes what the package fetcher made directly in `folder` (exactly the
  // names RunFolderName::MakeFetcherFile makes) where the name's pid names
  // a process that is gone; a live run's, every log and anything else stay,
  // and a link in the folder goes without what it points to. Files a killed
  // process held are let go a moment after its end: they are tried again
  // for about three seconds in all.
  static void RemoveFrom(const base::FilePath& folder);
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_RECOVERY_DEAD_RUN_DOWNLOADS_H_
