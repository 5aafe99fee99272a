#ifndef DESKTOP_WINDOWS_INSTALLER_BACKEND_RUN_STATE_H_
#define DESKTOP_WINDOWS_INSTALLER_BACKEND_RUN_STATE_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/observer_list.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/install_log/install_log.h"
#include "desktop/windows/installer/ipc/installer_observer.h"
#include "desktop/windows/installer/transactions/held_folder_tree.h"
#include "desktop/windows/installer/transactions/transaction.h"

namespace installer {

class Settings;

// What one run of the step machine shares with its steps: the operation's
// settings, the transaction every change goes through, the install log being
// written and what the steps leave for one another. The `Installer` owns it
// and hands it to each of its parts; it is the only state they share.
struct RunState {
  // Null when no run is on.
  Settings* settings = nullptr;
  // The installation's folders that a run which may be elevated, or one for
  // all users, writes into, held from the first write; null for a standard
  // user's run. Outlives the transaction, whose rollback lets folders go.
  std::unique_ptr<HeldFolderTree> held_folders;
  Transaction transaction;
  InstallLog install_log;
  // Where the package's files are: the folder of the running installer.
  base::FilePath package_folder;
  base::ObserverList<InstallerObserver> observers;
  // The uninstall entry's key, once the registry step has chosen it.
  std::wstring uninstall_key_name;
  // True while the registry step writes the values the install log lists.
  bool registry_logging = false;
  // Files of earlier installations that an uninstallation could not delete
  // (in use, often by the uninstaller itself): its clean-up batch file
  // deletes them once the processes have ended.
  std::vector<base::FilePath> old_files_for_batch;
  // Set by the uninstallation's registry clean-up: the vendor's key, if left
  // empty, goes once the run has succeeded.
  bool delete_empty_company_key = false;
  bool launcher_is_64_bit = false;
  // Held while an elevated process grants this run access to the folder:
  // signalled at the run's end to take the grant back.
  base::win::ScopedHandle permission_undo_event;
  // The run's other installer process (the one that started this elevated
  // run, or the one granting the folder's access), which the
  // uninstallation's clean-up batch waits for.
  uint32_t second_process_id = 0;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_BACKEND_RUN_STATE_H_
