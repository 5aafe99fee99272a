#ifndef DESKTOP_WINDOWS_INSTALLER_BACKEND_STEPS_UNFINISHED_UNINSTALLATION_H_
#define DESKTOP_WINDOWS_INSTALLER_BACKEND_STEPS_UNFINISHED_UNINSTALLATION_H_

#include "base/files/file_path.h"
#include "desktop/windows/installer/system/private_temp_folder.h"

namespace installer {

// An uninstallation whose last step died: the product is gone (registry,
// shortcuts, status file), and the installer's copy that removes what was
// in use (LeftoverRemover) was killed before it had removed all that the
// installation folder's record (CleanupBatch) names. The record, and the
// uninstaller's program and library it names, stay in the folder: the
// next run of the installer that meets them finishes the removal, whether
// it is that uninstaller run again or an installation into the folder.
class UnfinishedUninstallation {
 public:
  // Whether `install_folder` holds such traces: a record well formed for
  // the folder, no installation's status file beside it, and none of the
  // processes the record names still the one that wrote it.
  static bool IsIn(const base::FilePath& install_folder);

  // For an installation into `install_folder`, under the folder's mutex,
  // before it makes its version folder: deletes what the record names, the
  // record last, and keeps the installation folder.
  static void FinishBeforeInstalling(const base::FilePath& install_folder);

  // For the uninstaller left in `install_folder`, run again: unless another
  // run holds the folder, removes the folders of dead copies in the
  // temporary folder of `owners` and starts a new copy, which waits for
  // this process. False when there is nothing to finish or the copy could
  // not start (logged).
  [[nodiscard]] static bool Resume(const base::FilePath& install_folder,
                                   PrivateTempFolder::Owners owners);
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_BACKEND_STEPS_UNFINISHED_UNINSTALLATION_H_
