#ifndef DESKTOP_WINDOWS_INSTALLER_BACKEND_INSTALLER_PART_H_
#define DESKTOP_WINDOWS_INSTALLER_BACKEND_INSTALLER_PART_H_

#include <cstdint>
#include <string>

#include "base/closure.h"

namespace installer {

class AutoupdateTask;
class DefaultBrowserReset;
class Installer;
class InstallerElevation;
class InstallerPackageWait;
class PostInstallTasks;
class ProductShortcuts;
class Status;
class UninstallSurvey;
class UpdateSteps;
struct RunState;

// A part of the `Installer`'s work that lives outside the step machine: a
// set of step bodies or a task they share. It reaches the run's state, the
// machine's `RunState`, and ends the run through the machine's public run
// control. Owned by the `Installer` and used on its thread only.
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
  // The run's state, which the machine owns: null settings when no run is
  // on.
  RunState& run_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_BACKEND_INSTALLER_PART_H_
