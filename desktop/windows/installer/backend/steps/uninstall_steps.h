#ifndef DESKTOP_WINDOWS_INSTALLER_BACKEND_STEPS_UNINSTALL_STEPS_H_
#define DESKTOP_WINDOWS_INSTALLER_BACKEND_STEPS_UNINSTALL_STEPS_H_

#include <cstdint>
#include <vector>

#include "base/files/file_path.h"
#include "desktop/windows/installer/backend/installer_part.h"

namespace installer {

class CleanupBatch;
class InsideFolderCheck;
class Status;

// The steps of an uninstallation that are its own: shortcuts, the install
// log, the component uninstallers and the final clean-up, which hands what
// is still in use to a copy of the installer (RemoverCopy).
class UninstallSteps : public InstallerPart {
 public:
  explicit UninstallSteps(Installer* installer);

  // Before any step: a running browser holds its executable, so deleting it
  // first ends such an uninstallation before anything else has changed.
  [[nodiscard]] bool DeleteProductExecutable(const base::FilePath& folder);

  void StepRemoveShortcuts();
  void StepFinalizeUninstallation();
  void StepUninstallComponents();
  void StepCleanUpAfterUninstallation();

  // Tests only: takes the place of the installer's copy that removes the
  // leftovers of the record `batch_file` once the processes of
  // `process_ids` have ended (of an all-users installation with
  // `all_users`), which would wait for the test process itself. Returns the
  // function it replaces; null restores the real start.
  using BatchStarter = bool (*)(const base::FilePath& batch_file,
                                const std::vector<uint32_t>& process_ids,
                                bool all_users);
  static BatchStarter SetBatchStarterForTesting(BatchStarter starter);

 private:
  // The files the install log lists and the root files every installation
  // has; what cannot be deleted now goes to the clean-up batch.
  void DeleteInstalledFiles(const Status& current, CleanupBatch* batch);
  // What earlier updates left in the folder, as far as it can be deleted.
  void DeleteLeftovers(const Status& current);
  // The temporary files that runs ended while writing left in the root.
  void DeleteTemporaryLeftovers(const Status& current,
                                InsideFolderCheck* inside_folder);
  void WriteAndStartCleanupBatch(CleanupBatch* batch,
                                 const base::FilePath& folder);
  void DeleteUserProfile(const base::FilePath& folder);
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_BACKEND_STEPS_UNINSTALL_STEPS_H_
