#include "desktop/windows/installer/backend/steps/unfinished_uninstallation.h"

#include <windows.h>

#include <optional>

#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/win/scoped_named_mutex.h"
#include "desktop/windows/installer/backend/steps/cleanup_batch.h"
#include "desktop/windows/installer/backend/steps/leftover_remover.h"
#include "desktop/windows/installer/backend/steps/remover_copy.h"
#include "desktop/windows/installer/install_log/install_log.h"
#include "desktop/windows/installer/product/installer_object_names.h"
#include "desktop/windows/installer/product/package_file_names.h"
#include "desktop/windows/installer/recovery/dead_run_private_folders.h"
#include "desktop/windows/installer/recovery/interrupted_run_recovery.h"
#include "desktop/windows/installer/recovery/journal_owner_check.h"

namespace installer {

namespace {

bool HoldsInstallation(const base::FilePath& install_folder) {
  return base::PathExists(install_folder.Append(kInstallLogName)) ||
         base::PathExists(install_folder.Append(kFormerInstallLogName));
}

// Whether a process the record names may still be the uninstallation's,
// which then still has its copy to come: one that started after the
// record was written took over a dead one's id.
bool AnyProcessLives(const CleanupBatch::Contents& contents,
                     const base::FilePath& record) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!::GetFileAttributesExW(record.value().c_str(), GetFileExInfoStandard,
                              &data)) {
    return true;
  }
  for (uint32_t id : contents.process_ids) {
    if (InterruptedRunRecovery::IsOwnerAlive(id, data.ftLastWriteTime))
      return true;
  }
  return false;
}

}  // namespace

// static
bool UnfinishedUninstallation::IsIn(const base::FilePath& install_folder) {
  const base::FilePath record = install_folder.Append(kUninstallBatchName);
  if (!base::PathExists(record) || HoldsInstallation(install_folder))
    return false;
  // Anyone may copy the signed installer beside a record of their own: an
  // elevated process acts only on one the user or the administrators
  // wrote, or in a folder only they can write, as it does on a journal.
  if (!MayActOnRecord(record, install_folder)) {
    LOG(ERROR) << "Leaving a record of leftovers that neither this user nor "
                  "the administrators wrote, in a folder others can write: "
               << record.AsUTF8();
    return false;
  }
  const std::optional<CleanupBatch::Contents> contents =
      CleanupBatch::Read(record, install_folder);
  if (!contents)
    return false;
  if (AnyProcessLives(*contents, record)) {
    LOG(INFO) << "The uninstallation of " << install_folder.AsUTF8()
              << " still runs";
    return false;
  }
  return true;
}

// static
void UnfinishedUninstallation::FinishBeforeInstalling(
    const base::FilePath& install_folder) {
  if (!IsIn(install_folder))
    return;
  LOG(INFO) << "Finishing the uninstallation that left "
            << install_folder.AsUTF8();
  const LeftoverRemover::Outcome outcome = LeftoverRemover::RemoveListed(
      install_folder, LeftoverRemover::InstallFolder::kKeep);
  LOG(INFO) << "Removed " << outcome.deleted << " leftovers, refused "
            << outcome.refused;
}

// static
bool UnfinishedUninstallation::Resume(const base::FilePath& install_folder,
                                      PrivateTempFolder::Owners owners) {
  // Held until this process ends, as a run holds it: its copy, which
  // waits for this process, takes it over then.
  base::win::ScopedNamedMutex mutex(
      InstallerObjectNames(install_folder).mutex(),
      base::win::ScopedNamedMutex::Options{.open_if_denied = true});
  if (!mutex.IsValid() || !mutex.Acquire(0) || !IsIn(install_folder))
    return false;
  LOG(INFO) << "Finishing the uninstallation that left "
            << install_folder.AsUTF8();
  // The copy of the uninstallation that died left its folder too.
  if (owners == PrivateTempFolder::Owners::kAdministrators)
    DeadRunPrivateFolders::RemoveFromSystemTemp();
  else
    DeadRunPrivateFolders::RemoveCopiesFromUserTemp();
  if (!RemoverCopy::Start(install_folder, owners, {}))
    return false;
  mutex.CloseWithoutRelease();
  return true;
}

}  // namespace installer
