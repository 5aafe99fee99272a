#ifndef DESKTOP_WINDOWS_INSTALLER_BACKEND_INSTALLER_H_
#define DESKTOP_WINDOWS_INSTALLER_BACKEND_INSTALLER_H_

#include <windows.h>

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "base/closure.h"
#include "base/files/file_path.h"
#include "base/observer_list.h"
#include "base/weak_reference.h"
#include "base/win/object_watcher.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/backend/installer_elevation.h"
#include "desktop/windows/installer/backend/step_machine.h"
#include "desktop/windows/installer/install_log/install_log.h"
#include "desktop/windows/installer/ipc/installer_observer.h"
#include "desktop/windows/installer/registry/placeholder_resolver.h"
#include "desktop/windows/installer/settings/settings.h"
#include "desktop/windows/installer/transactions/transaction.h"

namespace base {
class CommandLine;
class JsonPrefStore;
class MessageLoop;
}  // namespace base

namespace installer {

class AutoupdateTask;
class CopySteps;
class DefaultBrowserReset;
class InstallSteps;
class InstallerPackageWait;
class PostInstallTasks;
class ProductShortcuts;
class ProtocolHandlerStep;
class Status;
class UninstallSteps;
class UninstallSurvey;
class UpdateSteps;
struct SavedSecurityInfo;

// The step machine of one installer operation in the backend process:
// installing, updating, uninstalling or only registering the protocol
// handler. `Run` posts the main routine, which checks the settings, gets
// write access to the installation folder (elevating where it must), creates
// the folder and then either hands the installation over to the package's
// own installer or builds the operation's step list and runs it, one posted
// task per step. Every change goes through the transaction, which a failure
// rolls back. The step bodies and the tasks they share are `InstallerPart`s
// that the machine owns; `kStepTable` names each step's body. Lives on the
// thread of the message loop that constructed it; waits for child processes
// block that thread.
class Installer : public StepMachine,
                  public base::win::ObjectWatcher::Delegate,
                  public PlaceholderResolver {
 public:
  // The steps of the step lists, in the order of their first use.
  enum class Step : int32_t {
    kCopyFiles,
    kCopyRootFiles,
    kInstallLauncher,
    kSetUpRegistry,
    kInstallShortcuts,
    kWriteInstallerPrefs,
    kInstallComponents,
    kFinalizeInstallation,
    kRemovePreviousFiles,
    kRemoveOldRootFiles,
    kCleanUpRegistry,
    kUpdateShortcuts,
    kPreserveInstallerStatus,
    kRemoveShortcuts,
    kFinalizeUninstallation,
    kRemoveInstalledFiles,
    kUninstallComponents,
    kCleanUpAfterUninstallation,
    kRegisterProtocolHandler,
    kSucceeded,
  };
  static constexpr size_t kStepCount =
      static_cast<size_t>(Step::kSucceeded) + 1;
  // One row of the step table: what a step is called in the log and in the
  // tests' fault points, and the body that runs it.
  struct StepDefinition {
    Step step;
    const char* name;
    void (*run)(Installer& installer);
  };
  // Every step, in the order of `Step`.
  static const StepDefinition kStepTable[kStepCount];

  Installer();
  Installer(const Installer&) = delete;
  Installer& operator=(const Installer&) = delete;
  // Cancels a running operation (rolling it back) before anything closes.
  ~Installer() override;

  // The steps of `operation` in order; empty for no operation.
  static std::span<const Step> GetStepList(Settings::Operation operation);
  static const char* GetStepName(Step step);

  // StepMachine:
  void AddObserver(InstallerObserver* observer) override;
  void RemoveObserver(InstallerObserver* observer) override;
  void Run(Settings* settings) override;
  bool succeeded() const override { return succeeded_; }

  // Posts the step at the cursor and reports it. Every step but the last of
  // a list calls it when done.
  void ScheduleNextStep();
  // Reports the error, rolls back and ends the run; gives back `message`
  // for the caller's ERROR line.
  // As `Fail`, for a failure whose Windows error is known: the message
  // names it, and the observers' error carries it.
  std::string FailWithCause(int code,
                            const std::wstring& detail,
                            const std::string& message,
                            uint32_t system_error);
  std::string Fail(int code,
                   const std::wstring& detail,
                   const std::string& message);
  // Ends the run without success, rolling back.
  void Cancel();
  // Ends the run with success; the transaction keeps its operations.
  void Succeeded();
  // Releases the folder (its access list, the permission process) and
  // stops watching the front end's events.
  void Reset();

  // base::win::ObjectWatcher::Delegate: the package-ready or the
  // installation-interrupted event.
  void OnObjectSignaled(HANDLE object) override;

  // PlaceholderResolver: the registry templates' placeholders, and where
  // values written now are recorded (the install log's list for the hive
  // while the uninstall entry is written, else none).
  std::wstring Resolve(const std::wstring& name) override;
  RegistryData* GetRegistryRecord(HKEY root) override;

  // The parts the steps drive; tests reach them here.
  ProductShortcuts* product_shortcuts() { return shortcuts_.get(); }

  Transaction* transaction() { return &transaction_; }

  // Tests only: `body` runs in place of `step`'s own body (it must end by
  // calling `ScheduleNextStep`, `Fail` or `Succeeded`, as a step does).
  void SetStepForTesting(Step step, base::Closure body);

 private:
  friend class InstallerPart;

  // Fail's and FailWithCause's one way to the observers, once per run.
  std::string Report(const RunError& error);
  // The main routine, posted by `Run`.
  void BuildStepsAndStart();
  // The checks of the main routine; false when they ended the run.
  bool WatchInterruptedEvent();
  bool ObtainWriteAccess(const base::FilePath& folder);
  // Turns an elevated relaunch's result into the run's end; true when the
  // run goes on in this process.
  bool HandleRelaunchResult(InstallerElevation::Result result);
  bool CreateVersionSubfolder(const base::FilePath& folder);
  void ApplyStoredExperiments(const base::FilePath& folder);
  void BuildStepList();
  base::Closure MakeStepClosure(Step step);
  // The table's body of `step`.
  void RunStepBody(Step step);
  // Runs a posted step unless the run has ended meanwhile.
  void RunStep(base::Closure step);
  void PostStep(base::Closure step);
  // Tests only: fails the run at the end of the current step when a test's
  // injected fault asks for it there; true then.
  bool FailAtInjectedFault();

  const Status* status() const;

  base::MessageLoop* const loop_;
  std::unique_ptr<SavedSecurityInfo> saved_security_;
  Transaction transaction_;
  base::ObserverList<InstallerObserver> observers_;
  base::FilePath package_folder_;
  Settings* settings_ = nullptr;
  InstallLog install_log_;
  // Files of earlier installations that an uninstallation could not delete
  // (in use, often by the uninstaller itself): its clean-up batch file
  // deletes them once the processes have ended.
  std::vector<base::FilePath> old_files_for_batch_;
  std::wstring uninstall_key_name_;
  bool running_ = false;
  bool succeeded_ = false;
  bool registry_logging_ = false;
  // Set by the uninstallation's registry clean-up: the vendor's key, if left
  // empty, goes once the run has succeeded.
  bool delete_empty_company_key_ = false;
  // Set once the run has reported its end (success, error or cancellation):
  // nothing queued, and no event, may act on it afterwards.
  bool run_ended_ = false;
  base::win::ScopedHandle permission_undo_event_;
  uint32_t second_process_id_ = 0;
  base::win::ScopedHandle interrupted_event_;
  base::win::ObjectWatcher interrupted_watcher_;
  std::vector<base::Closure> steps_;
  // The steps behind `steps_`, by which a test's injected fault finds its
  // point.
  std::span<const Step> step_list_;
  size_t next_step_ = 0;
  bool launcher_is_executable_ = false;
  bool launcher_is_64_bit_ = false;
  std::array<base::Closure, kStepCount> steps_for_testing_;
  // The parts, made last: they hold references to the state above.
  std::unique_ptr<InstallerElevation> elevation_;
  std::unique_ptr<InstallerPackageWait> package_wait_;
  std::unique_ptr<PostInstallTasks> post_install_tasks_;
  std::unique_ptr<ProductShortcuts> shortcuts_;
  std::unique_ptr<AutoupdateTask> autoupdate_task_;
  std::unique_ptr<UninstallSurvey> uninstall_survey_;
  std::unique_ptr<DefaultBrowserReset> default_browser_reset_;
  std::unique_ptr<CopySteps> copy_steps_;
  std::unique_ptr<InstallSteps> install_steps_;
  std::unique_ptr<UpdateSteps> update_steps_;
  std::unique_ptr<UninstallSteps> uninstall_steps_;
  std::unique_ptr<ProtocolHandlerStep> protocol_handler_step_;
  base::WeakReferenceSource weak_source_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_BACKEND_INSTALLER_H_
