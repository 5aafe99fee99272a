#ifndef DESKTOP_WINDOWS_INSTALLER_INSTALLER_H_
#define DESKTOP_WINDOWS_INSTALLER_INSTALLER_H_

#include <windows.h>

#include <shellapi.h>

#include <array>
#include <cstdint>
#include <map>
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
#include "desktop/windows/installer/installer_observer.h"
#include "desktop/windows/installer/service/install_log.h"
#include "desktop/windows/installer/service/placeholder_resolver.h"
#include "desktop/windows/installer/service/transactions/transaction.h"
#include "desktop/windows/installer/settings.h"
#include "desktop/windows/installer/step_machine.h"

namespace base {
class CommandLine;
class JsonPrefStore;
class MessageLoop;
}  // namespace base

namespace installer {

class AssociationShell;
class CleanupBatch;
class Status;
struct RegistryEntryDescription;
struct SavedSecurityInfo;

// The step machine of one installer operation in the backend process:
// installing, updating, uninstalling or only registering the protocol
// handler. `Run` posts the main routine, which checks the settings, gets
// write access to the installation folder (elevating where it must), creates
// the folder and then either hands the installation over to the package's
// own installer or builds the operation's step list and runs it, one posted
// task per step. Every change goes through the transaction, which a failure
// rolls back. Lives on the thread of the message loop that constructed it;
// waits for child processes block that thread.
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

  // Results of the elevated child processes (`RelaunchElevated`,
  // `GrantFolderPermissionElevated`).
  enum ElevationResult : int32_t {
    kElevatedDone = 0,
    // UAC off, already relaunched, or the shell refused (also a refused
    // prompt).
    kElevationImpossible = 1,
    kElevatedProcessFailed = 2,
    kElevationSetupError = 3,
    // The elevated installer succeeded and this process waits for the
    // package: that wait ends the run, which must not be ended again.
    kRunContinuesInPackageWait = 4,
  };

  // String-table ids of the errors reported to the observers.
  static constexpr int kErrorInstall = 37055;
  static constexpr int kErrorUninstall = 37056;
  static constexpr int kErrorAnotherInstaller = 37057;
  static constexpr int kErrorInvalidLocation = 37058;
  static constexpr int kErrorCreateFolder = 37059;
  static constexpr int kErrorPrivileges = 37060;
  static constexpr int kErrorElevation = 37061;
  static constexpr int kErrorCopyFile = 37062;
  static constexpr int kErrorExecutableInUse = 37063;

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
  // One batch of the copy steps, from entry `index` of the files list, or of
  // the root files list with `is_root`; reports one step per batch but the
  // last, which schedules the next step.
  void StepCopyFile(int index, bool is_root);
  // Reports the error, rolls back and ends the run; gives back `message`
  // for the caller's ERROR line.
  // As `Fail`, for a failure whose Windows error is known: the message
  // names it, and the observers learn it first (`OnErrorCause`).
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

  // Elevation and relaunch.
  bool CanElevate();
  ElevationResult RelaunchElevated();
  ElevationResult GrantFolderPermissionElevated(const base::FilePath& folder,
                                                bool permanent);

  // Waiting for the package and handing over to its installer.
  void WaitForPackage(bool after_elevation);
  // base::win::ObjectWatcher::Delegate: the package-ready or the
  // installation-interrupted event.
  void OnObjectSignaled(HANDLE object) override;

  // Further tasks of the steps and the main routine.
  void RunPostElevationTasks();
  void FinalizeSuccessfulInstallation();
  // PlaceholderResolver: the registry templates' placeholders, and where
  // values written now are recorded (the install log's list for the hive
  // while the uninstall entry is written, else none).
  std::wstring Resolve(const std::wstring& name) override;
  RegistryData* GetRegistryRecord(HKEY root) override;
  std::wstring ExpandProductPlaceholders(const std::wstring& text) const;
  void ResetDefaultBrowserAndShowSurvey(const base::FilePath& install_folder);
  // Makes Internet Explorer the default browser again through `shell`; with
  // `all_users` only once Internet Explorer's stored reinstall command ran.
  static void ResetDefaultBrowserToIe(bool all_users, AssociationShell* shell);

  // Names and small tasks of the steps.
  // The stream of the former browser generation's product type.
  static std::wstring GetOldProductStreamName(int32_t product_type);
  static std::wstring GetShortcutFileName(bool with_version);
  // A folder the master shortcut is copied to, and where the copy's path is
  // stored when it was made.
  struct ShortcutDestination {
    base::FilePath folder;
    base::FilePath* result = nullptr;
  };
  // Creates the master shortcut to `target` in the package folder, pins it
  // with `pin`, and copies it to every destination (in the transaction);
  // `use_version` (in/out) puts the major version into the name, and is set
  // when a destination already holds the plain name. The destinations are
  // emptied. False when the master shortcut could not be created.
  bool CreateMasterShortcut(std::vector<ShortcutDestination>* destinations,
                            bool pin,
                            bool* use_version,
                            const base::FilePath& target);
  // Adds the product's firewall rule for `executable`, or removes its rules.
  static void AddFirewallRule(const base::FilePath& executable, bool remove);
  // Deletes the product's stale tasks and "Autoupdate " + `name_suffix`,
  // then empties the suffix.
  static void RemoveAutoupdateTask(std::string* name_suffix);
  static void RemoveMessageCenterShortcuts();
  // The Uninstall key of this product and version, + `suffix`.
  static std::wstring MakeUninstallKeyPath(const std::wstring& suffix);
  static std::string MakeCountedPrefValue(const std::string& text, bool first);
  // Splits Internet Explorer's stored "ReinstallCommand" into the program
  // (quoted, or up to the first blank) and its arguments; false when no
  // program can be taken from it (empty, or an unclosed quote).
  static bool SplitReinstallCommand(const std::wstring& command,
                                    std::wstring* program,
                                    std::wstring* arguments);
  // The command line that opens the uninstall survey at `url` in `browser`.
  static std::wstring MakeSurveyCommandLine(const base::FilePath& browser,
                                            bool private_mode,
                                            const std::string& url);

  Transaction* transaction() { return &transaction_; }

  // A URL scheme as it may be registered: a letter, then letters, digits,
  // "+", "-" or ".", at most 64 characters.
  static bool IsValidProtocolScheme(const std::wstring& scheme);

  // Tests only: `body` runs in place of `step`'s own body (it must end by
  // calling `ScheduleNextStep`, `Fail` or `Succeeded`, as a step does).
  void SetStepForTesting(Step step, base::Closure body);

  // Tests only: the shell call behind "runas", which Wine runs without a
  // prompt (so a refused prompt is only seen through this), and behind
  // Internet Explorer's reinstall command. Returns the function it replaces;
  // null restores the system's.
  using ShellExecuteFunction = BOOL(WINAPI*)(SHELLEXECUTEINFOW* info);
  static ShellExecuteFunction SetShellExecuteForTesting(
      ShellExecuteFunction function);
  // ShellExecuteExW, or the function set for testing.
  static bool RunShellExecute(SHELLEXECUTEINFOW* info);

  // Tests only: starts the clean-up batch file in place of cmd, which would
  // wait for the test process itself to end. Returns the function it
  // replaces; null restores the real start.
  using BatchStarter = bool (*)(const base::FilePath& batch_file);
  static BatchStarter SetBatchStarterForTesting(BatchStarter starter);

 private:
  // The main routine, posted by `Run`.
  void BuildStepsAndStart();
  // The checks of the main routine; false when they ended the run.
  bool WatchInterruptedEvent();
  bool ObtainWriteAccess(const base::FilePath& folder);
  // Turns an elevated relaunch's result into the run's end; true when the
  // run goes on in this process.
  bool HandleRelaunchResult(ElevationResult result);
  void SaveLastInstallPath();
  bool PrepareFileLists(const base::FilePath& folder);
  bool ReadFileList(const char* name, std::vector<std::string>* list);
  bool ShouldMovePackageFiles() const;
  // One list entry into the installation (logged there); false when the run
  // failed.
  bool CopyPackageFile(const std::string& entry, bool is_root);
  // Moves `source` (same volume only) when `movable` and the package folder
  // allows it, else copies it.
  bool TransferPackageFile(const base::FilePath& source,
                           const base::FilePath& target,
                           bool movable);
  // Whether the file list entry `relative` went into the installation with
  // its top folder, which is moved in one rename at its first entry when
  // the package folder allows moves, the folder holds exactly the list's
  // files below it and its target does not exist yet.
  bool MovedWithItsFolder(const base::FilePath& relative);
  bool MoveWholeFolder(const std::wstring& top);
  bool CreateVersionSubfolder(const base::FilePath& folder);
  bool DeleteProductExecutable(const base::FilePath& folder);
  void ApplyStoredExperiments(const base::FilePath& folder);
  void BuildStepList();
  base::Closure MakeStepClosure(Step step);
  // Runs a posted step unless the run has ended meanwhile.
  void RunStep(base::Closure step);
  void PostStep(base::Closure step);
  // Tests only: fails the run at the end of the current step when a test's
  // injected fault asks for it there; true then.
  bool FailAtInjectedFault();
  // The body of a step that this library does not hold yet.
  void StepNotAvailable(Step step);

  // The steps of an update and of an uninstallation.
  void StepRemoveShortcuts();
  void StepFinalizeUninstallation();
  void StepUninstallComponents();
  void StepCleanUpAfterUninstallation();
  void WriteAndStartCleanupBatch(CleanupBatch* batch,
                                 const base::FilePath& folder);
  void DeleteUserProfile(const base::FilePath& folder);
  void UnpinShortcuts(const std::vector<base::FilePath>& shortcuts);
  void StepRemovePreviousFiles(bool during_update);
  void RemoveOldInstallation(const base::FilePath& status_file,
                             bool during_update);
  void StepRemoveOldRootFiles();
  void StepCleanUpRegistry();
  void CleanUpRegistryRecord(HKEY root, const RegistryKeyRecord& record);
  void DeleteUninstallEntryOfFolder(HKEY root, const std::wstring& key_path);
  // The vendor's key, once a successful uninstallation has left it without
  // values or subkeys; other products of the vendor may still keep theirs
  // there.
  void DeleteEmptyCompanyKey(HKEY root);
  void StepPreserveInstallerStatus();
  // One of the three shortcuts an update carries over from the previous
  // installation.
  struct ShortcutUpdate {
    const char* label;
    int32_t flag;
    bool existed;
    bool recreate;
    const std::wstring& old_path;
    int folder_key;
    std::wstring* new_path;
  };
  void StepUpdateShortcuts();
  void UpdateShortcut(const ShortcutUpdate& shortcut,
                      bool rename,
                      base::FilePath* created,
                      std::vector<ShortcutDestination>* destinations);
  // Unpins the previous installation's pins as the flags ask; true when the
  // master shortcut is to be pinned anew.
  bool UpdatePinnedShortcuts(bool rename);

  // The install steps (installer_install_steps.cc).
  void StepInstallLauncher();
  void InstallLauncherAsExecutable(const base::FilePath& folder,
                                   const base::FilePath& launcher);
  void InstallTrackingData(const base::FilePath& folder,
                           const base::CommandLine& command_line);
  void InstallPrefDefaultOverrides(const base::FilePath& folder);
  void InstallHelper(const base::FilePath& folder);
  // The install log as the status file at `target`, in the transaction.
  bool WriteInstallStatus(const base::FilePath& target);
  void StepSetUpRegistry();
  // The Uninstall key name not yet present under `root`.
  std::wstring ChooseUninstallKey(HKEY root);
  // False when a mandatory row could not be written.
  bool WriteRegistryRow(HKEY root, const RegistryEntryDescription& row);
  void StepInstallShortcuts();
  void AddShortcutDestination(int32_t flag,
                              int path_key,
                              base::FilePath* result,
                              std::vector<ShortcutDestination>* destinations);
  void StepWriteInstallerPrefs();
  void FillInstallerPrefs(base::JsonPrefStore* include,
                          base::JsonPrefStore* prefs);
  void WriteExperimentPrefs(base::JsonPrefStore* prefs);
  void StepInstallComponents();
  void InstallComponent(const std::string& part, bool unsigned_build);
  void StepFinalizeInstallation();
  void MakeDefaultBrowserIfAsked(const base::FilePath& folder);
  static void BroadcastAssociationChange();
  bool ShouldCreateAutoupdateTask() const;
  void CreateAutoupdateTask(const base::FilePath& folder);
  static void DecreaseAutoupdateErrorCount(const base::FilePath& path);

  // The protocol-handler step (installer_protocol_steps.cc).
  void StepRegisterProtocolHandler();
  bool InstallationWroteKey(const std::string& key_path) const;

  // Further tasks.
  void RegisterForCurrentUser();
  void UpdateUserProfile(const base::FilePath& profile);
  void ShowUninstallSurvey();

  // Elevation helpers.
  bool ShellExecuteRunAs(const base::CommandLine& command_line,
                         base::win::ScopedHandle* process);

  // The hand-over to the package's installer.
  void HandOverToPackageInstaller();

  const Status* status() const;

  base::MessageLoop* const loop_;
  std::unique_ptr<SavedSecurityInfo> saved_security_;
  Transaction transaction_;
  base::ObserverList<InstallerObserver> observers_;
  base::FilePath package_folder_;
  std::vector<std::string> files_;
  std::vector<std::string> root_files_;
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
  // The package folder is deleted after the run: its files are moved.
  bool move_package_files_ = false;
  // The list's top folders met so far by the copy, and whether each went
  // into the installation in one rename.
  std::map<std::wstring, bool> whole_folder_moved_;
  // Set once the run has reported its end (success, error or cancellation):
  // nothing queued, and no event, may act on it afterwards.
  bool run_ended_ = false;
  base::win::ScopedHandle permission_undo_event_;
  uint32_t second_process_id_ = 0;
  base::win::ScopedHandle package_ready_event_;
  base::win::ObjectWatcher package_ready_watcher_;
  base::win::ScopedHandle interrupted_event_;
  base::win::ObjectWatcher interrupted_watcher_;
  bool after_elevation_ = false;
  std::vector<base::Closure> steps_;
  // The steps behind `steps_`, by which a test's injected fault finds its
  // point.
  std::span<const Step> step_list_;
  size_t next_step_ = 0;
  bool launcher_is_executable_ = false;
  bool launcher_is_64_bit_ = false;
  std::array<base::Closure, kStepCount> steps_for_testing_;
  base::WeakReferenceSource weak_source_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_INSTALLER_H_
