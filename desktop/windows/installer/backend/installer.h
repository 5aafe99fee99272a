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
#include "base/weak_reference.h"
#include "base/win/object_watcher.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/backend/installer_elevation.h"
#include "desktop/windows/installer/backend/run_state.h"
#include "desktop/windows/installer/backend/step_machine.h"
#include "desktop/windows/installer/ipc/installer_observer.h"
#include "desktop/windows/installer/registry/placeholder_resolver.h"
#include "desktop/windows/installer/settings/settings.h"

namespace base {
class CommandLine;
class JsonPrefStore;
class MessageLoop;
}  // namespace base

namespace installer {

class AutoupdateTask;
class CopySteps;
class DefaultBrowserReset;
class InstallFolderAccess;
class InstallSteps;
class InstallerPackageWait;
class PostInstallTasks;
class ProductShortcuts;
class ProtocolHandlerStep;
class Status;
class UninstallSteps;
class UninstallSurvey;
class UpdateSteps;

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

  // Runs `step` on the machine's thread unless the run has ended by then.
  void PostStep(base::Closure step);
  // Tests only: fails the run at the end of the current step when a test's
  // injected fault asks for it there; true then.
  bool FailAtInjectedFault();

  // What the run shares with its parts; made with the machine, handed to
  // each part as it is made.
  RunState& run_state() { return run_; }
  Transaction* transaction() { return &run_.transaction; }

  // The parts, for the parts that drive one another (and the tests).
  InstallerElevation& elevation() { return *elevation_; }
  InstallerPackageWait& package_wait() { return *package_wait_; }
  InstallSteps& install_steps() { return *install_steps_; }
  PostInstallTasks& post_install_tasks() { return *post_install_tasks_; }
  ProductShortcuts& product_shortcuts() { return *shortcuts_; }
  AutoupdateTask& autoupdate_task() { return *autoupdate_task_; }
  DefaultBrowserReset& default_browser_reset() {
    return *default_browser_reset_;
  }
  UninstallSurvey& uninstall_survey() { return *uninstall_survey_; }
  UpdateSteps& update_steps() { return *update_steps_; }

  // Tests only: `body` runs in place of `step`'s own body (it must end by
  // calling `ScheduleNextStep`, `Fail` or `Succeeded`, as a step does).
  void SetStepForTesting(Step step, base::Closure body);

 private:
  // Fail's and FailWithCause's one way to the observers, once per run.
  std::string Report(const RunError& error);
  // The main routine, posted by `Run`.
  void BuildStepsAndStart();
  // The stages of the main routine; those returning bool are false when
  // they ended the run.
  bool CheckOperation();
  bool WatchInterruptedEvent();
  bool CreateInstallFolder(const base::FilePath& folder);
  void StartInstallLog(const base::FilePath& folder);
  bool PrepareOperation(const base::FilePath& folder);
  // False after failing the run: the package's files would not fit below
  // `folder`.
  bool CheckPackageFitsFolder(const base::FilePath& folder);
  std::wstring ChooseVersionSubfolder(const base::FilePath& folder) const;
  bool CreateVersionSubfolder(const base::FilePath& folder);
  void ApplyStoredExperiments(const base::FilePath& folder);
  void StartStepList();
  void BuildStepList();
  base::Closure MakeStepClosure(Step step);
  // The table's body of `step`.
  void RunStepBody(Step step);
  // Runs a posted step unless the run has ended meanwhile.
  void RunStep(base::Closure step);

  const Status* status() const;

  base::MessageLoop* const loop_;
  RunState run_;
  bool running_ = false;
  bool succeeded_ = false;
  // Set once the run has reported its end (success, error or cancellation):
  // nothing queued, and no event, may act on it afterwards.
  bool run_ended_ = false;
  base::win::ScopedHandle interrupted_event_;
  base::win::ObjectWatcher interrupted_watcher_;
  std::vector<base::Closure> steps_;
  // The steps behind `steps_`, by which a test's injected fault finds its
  // point.
  std::span<const Step> step_list_;
  size_t next_step_ = 0;
  std::array<base::Closure, kStepCount> steps_for_testing_;
  // The parts, made last: they hold references to `run_`.
  std::unique_ptr<InstallerElevation> elevation_;
  std::unique_ptr<InstallFolderAccess> folder_access_;
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
