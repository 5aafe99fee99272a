#ifndef DESKTOP_WINDOWS_INSTALLER_BACKEND_INSTALLER_PART_H_
#define DESKTOP_WINDOWS_INSTALLER_BACKEND_INSTALLER_PART_H_

#include <cstdint>
#include <string>
#include <vector>

#include "base/closure.h"
#include "base/files/file_path.h"
#include "base/observer_list.h"
#include "base/win/scoped_handle.h"

namespace installer {

class AutoupdateTask;
class DefaultBrowserReset;
class Installer;
class InstallerElevation;
class InstallerObserver;
class InstallerPackageWait;
class PostInstallTasks;
class ProductShortcuts;
class Settings;
class Status;
class Transaction;
class UninstallSurvey;
class UpdateSteps;
struct InstallLog;

// A part of the `Installer`'s work that lives outside the step machine: a
// set of step bodies or a task they share. It reaches the run's state, which
// the machine owns, under the machine's own names, and ends the run through
// the machine. Owned by the `Installer` and used on its thread only.
class InstallerPart {
 public:
  InstallerPart(const InstallerPart&) = delete;
  InstallerPart& operator=(const InstallerPart&) = delete;

 protected:
  explicit InstallerPart(Installer* installer);
  ~InstallerPart();

  const Status* status() const;
  // The machine's run control (see `Installer`).
  std::string Fail(int code,
                   const std::wstring& detail,
                   const std::string& message);
  std::string FailWithCause(int code,
                            const std::wstring& detail,
                            const std::string& message,
                            uint32_t system_error);
  void ScheduleNextStep();
  void Succeeded();
  bool FailAtInjectedFault();
  void PostStep(base::Closure step);

  // The other parts of the machine.
  InstallerElevation& elevation();
  InstallerPackageWait& package_wait();
  PostInstallTasks& post_install_tasks();
  ProductShortcuts& product_shortcuts();
  AutoupdateTask& autoupdate_task();
  DefaultBrowserReset& default_browser_reset();
  UninstallSurvey& uninstall_survey();
  UpdateSteps& update_steps();

  Installer& installer_;
  // The run's state: null settings when no run is on.
  Settings* const& settings_;
  Transaction& transaction_;
  InstallLog& install_log_;
  const base::FilePath& package_folder_;
  base::ObserverList<InstallerObserver>& observers_;
  std::wstring& uninstall_key_name_;
  bool& registry_logging_;
  std::vector<base::FilePath>& old_files_for_batch_;
  bool& delete_empty_company_key_;
  const bool& launcher_is_64_bit_;
  base::win::ScopedHandle& permission_undo_event_;
  uint32_t& second_process_id_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_BACKEND_INSTALLER_PART_H_
