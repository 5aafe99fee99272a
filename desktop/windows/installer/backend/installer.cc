#include "desktop/windows/installer/backend/installer.h"

#include <algorithm>
#include <string>
#include <tuple>
#include <utility>

#include "base/bind.h"
#include "base/command_line.h"
#include "base/features/command_line_feature_reader.h"
#include "base/features/feature_list.h"
#include "base/features/list_feature_reader.h"
#include "base/files/file_util.h"
#include "base/location.h"
#include "base/log_message.h"
#include "base/logging.h"
#include "base/message_loop/message_loop.h"
#include "base/path_service.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/utf_string_conversions.h"
#include "base/threading/prefs_task_pool.h"
#include "base/time/time.h"
#include "base/values.h"
#include "components/prefs/json_pref_store.h"
#include "desktop/windows/installer/backend/install_folder_access.h"
#include "desktop/windows/installer/backend/installer_package_wait.h"
#include "desktop/windows/installer/backend/installer_process_switches.h"
#include "desktop/windows/installer/backend/product_placeholders.h"
#include "desktop/windows/installer/backend/steps/autoupdate_task.h"
#include "desktop/windows/installer/backend/steps/copy_steps.h"
#include "desktop/windows/installer/backend/steps/default_browser_reset.h"
#include "desktop/windows/installer/backend/steps/install_steps.h"
#include "desktop/windows/installer/backend/steps/post_install_tasks.h"
#include "desktop/windows/installer/backend/steps/product_shortcuts.h"
#include "desktop/windows/installer/backend/steps/protocol_handler_step.h"
#include "desktop/windows/installer/backend/steps/uninstall_steps.h"
#include "desktop/windows/installer/backend/steps/unfinished_uninstallation.h"
#include "desktop/windows/installer/backend/steps/uninstall_survey.h"
#include "desktop/windows/installer/backend/steps/update_steps.h"
#include "desktop/windows/installer/journal/run_journal.h"
#include "desktop/windows/installer/product/install_folder_names.h"
#include "desktop/windows/installer/product/installer_object_names.h"
#include "desktop/windows/installer/product/installer_string_ids.h"
#include "desktop/windows/installer/product/installer_version.h"
#include "desktop/windows/installer/product/package_file_names.h"
#include "desktop/windows/installer/registry/registry_entry.h"
#include "desktop/windows/installer/settings/may_run_elevated.h"
#include "desktop/windows/installer/settings/settings_switches.h"
#include "desktop/windows/installer/settings/status.h"
#include "desktop/windows/installer/system/utils.h"
#include "desktop/windows/installer/testing/test_hooks.h"
#include "desktop/windows/installer/transactions/create_folder_operation.h"
#include "desktop/windows/installer/transactions/run_journal_operation.h"

namespace installer {

namespace {

using Step = Installer::Step;

constexpr Step kInstallSteps[] = {
    Step::kCopyFiles,         Step::kCopyRootFiles,
    Step::kInstallLauncher,   Step::kSetUpRegistry,
    Step::kInstallShortcuts,  Step::kWriteInstallerPrefs,
    Step::kInstallComponents, Step::kFinalizeInstallation,
};
constexpr Step kUpdateSteps[] = {
    Step::kRemovePreviousFiles, Step::kCopyFiles,
    Step::kRemoveOldRootFiles,  Step::kCopyRootFiles,
    Step::kInstallLauncher,     Step::kCleanUpRegistry,
    Step::kSetUpRegistry,       Step::kUpdateShortcuts,
    Step::kWriteInstallerPrefs, Step::kPreserveInstallerStatus,
    Step::kInstallComponents,   Step::kFinalizeInstallation,
};
constexpr Step kUninstallSteps[] = {
    Step::kCleanUpRegistry,        Step::kRemoveShortcuts,
    Step::kFinalizeUninstallation, Step::kRemoveInstalledFiles,
    Step::kUninstallComponents,    Step::kCleanUpAfterUninstallation,
};
constexpr Step kProtocolHandlerSteps[] = {
    Step::kRegisterProtocolHandler,
    Step::kWriteInstallerPrefs,
    Step::kSucceeded,
};

constexpr char kInstallerExperimentsKey[] = "installer-experiments";
constexpr char kTestExperiment[] = "installer-experiment-test";

}  // namespace

// In the order of `Step`, which the check below holds the table to.
constexpr Installer::StepDefinition Installer::kStepTable[] = {
    {Step::kCopyFiles, "copy the package files",
     [](Installer& i) { i.copy_steps_->StepCopyFile(0, false); }},
    {Step::kCopyRootFiles, "copy the root files",
     [](Installer& i) { i.copy_steps_->StepCopyFile(0, true); }},
    {Step::kInstallLauncher, "install the launcher",
     [](Installer& i) { i.install_steps_->StepInstallLauncher(); }},
    {Step::kSetUpRegistry, "set up the registry",
     [](Installer& i) { i.install_steps_->StepSetUpRegistry(); }},
    {Step::kInstallShortcuts, "install the shortcuts",
     [](Installer& i) { i.install_steps_->StepInstallShortcuts(); }},
    {Step::kWriteInstallerPrefs, "write the installer preferences",
     [](Installer& i) { i.install_steps_->StepWriteInstallerPrefs(); }},
    {Step::kInstallComponents, "install the components",
     [](Installer& i) { i.install_steps_->StepInstallComponents(); }},
    {Step::kFinalizeInstallation, "finalize the installation",
     [](Installer& i) { i.install_steps_->StepFinalizeInstallation(); }},
    {Step::kRemovePreviousFiles, "remove the previously installed files",
     [](Installer& i) { i.update_steps_->StepRemovePreviousFiles(true); }},
    {Step::kRemoveOldRootFiles, "remove old files from the installation root",
     [](Installer& i) { i.update_steps_->StepRemoveOldRootFiles(); }},
    {Step::kCleanUpRegistry, "clean up the registry",
     [](Installer& i) { i.update_steps_->StepCleanUpRegistry(); }},
    {Step::kUpdateShortcuts, "update the shortcuts",
     [](Installer& i) { i.update_steps_->StepUpdateShortcuts(); }},
    {Step::kPreserveInstallerStatus, "preserve the previous installer status",
     [](Installer& i) { i.update_steps_->StepPreserveInstallerStatus(); }},
    {Step::kRemoveShortcuts, "remove the shortcuts and unpin",
     [](Installer& i) { i.uninstall_steps_->StepRemoveShortcuts(); }},
    {Step::kFinalizeUninstallation, "finalize the uninstallation",
     [](Installer& i) { i.uninstall_steps_->StepFinalizeUninstallation(); }},
    {Step::kRemoveInstalledFiles, "remove the installed files",
     [](Installer& i) { i.update_steps_->StepRemovePreviousFiles(false); }},
    {Step::kUninstallComponents, "uninstall the components",
     [](Installer& i) { i.uninstall_steps_->StepUninstallComponents(); }},
    {Step::kCleanUpAfterUninstallation, "clean up after the uninstallation",
     [](Installer& i) {
       i.uninstall_steps_->StepCleanUpAfterUninstallation();
     }},
    {Step::kRegisterProtocolHandler, "register as protocol handler",
     [](Installer& i) {
       i.protocol_handler_step_->StepRegisterProtocolHandler();
     }},
    {Step::kSucceeded, "succeeded", [](Installer& i) { i.Succeeded(); }},
};

namespace {

// Row n of the table is step n, so that a step finds its row by value.
constexpr bool StepTableFollowsTheEnum() {
  for (size_t row = 0; row < Installer::kStepCount; ++row) {
    if (static_cast<size_t>(Installer::kStepTable[row].step) != row)
      return false;
  }
  return true;
}
static_assert(StepTableFollowsTheEnum());

}  // namespace

Installer::Installer()
    : loop_(base::MessageLoop::current()),
      elevation_(std::make_unique<InstallerElevation>(this)),
      folder_access_(std::make_unique<InstallFolderAccess>(this)),
      package_wait_(std::make_unique<InstallerPackageWait>(this)),
      post_install_tasks_(std::make_unique<PostInstallTasks>(this)),
      shortcuts_(std::make_unique<ProductShortcuts>(this)),
      autoupdate_task_(std::make_unique<AutoupdateTask>(this)),
      uninstall_survey_(std::make_unique<UninstallSurvey>(this)),
      default_browser_reset_(std::make_unique<DefaultBrowserReset>(this)),
      copy_steps_(std::make_unique<CopySteps>(this)),
      install_steps_(std::make_unique<InstallSteps>(this)),
      update_steps_(std::make_unique<UpdateSteps>(this)),
      uninstall_steps_(std::make_unique<UninstallSteps>(this)),
      protocol_handler_step_(std::make_unique<ProtocolHandlerStep>(this)) {}

Installer::~Installer() {
  if (running_)
    Cancel();
  // Stopped before the handles close: a wait on a closed handle is
  // undefined.
  package_wait_->StopWatching();
  interrupted_watcher_.StopWatching();
  weak_source_.Invalidate();
}

// static
std::span<const Installer::Step> Installer::GetStepList(
    Settings::Operation operation) {
  switch (operation) {
    case Settings::kInstalling:
      return kInstallSteps;
    case Settings::kUpgrading:
      return kUpdateSteps;
    case Settings::kUninstalling:
      return kUninstallSteps;
    case Settings::kRegisteringProtocolHandler:
      return kProtocolHandlerSteps;
    case Settings::kNoOperation:
      break;
  }
  return {};
}

// static
const char* Installer::GetStepName(Step step) {
  return kStepTable[static_cast<size_t>(step)].name;
}

void Installer::AddObserver(InstallerObserver* observer) {
  run_.observers.AddObserver(observer);
}

void Installer::RemoveObserver(InstallerObserver* observer) {
  run_.observers.RemoveObserver(observer);
}

void Installer::Run(Settings* settings) {
  LOG(INFO) << "Beginning installation";
  settings->set_changeable(false);
  run_.settings = settings;
  succeeded_ = false;
  loop_->task_runner()->PostTask(FROM_HERE,
                                 base::BindWeak(&Installer::BuildStepsAndStart,
                                                weak_source_.GetRef(), this));
}

const Status* Installer::status() const {
  return run_.settings->GetStatus();
}

void Installer::BuildStepsAndStart() {
  running_ = true;
  if (run_.settings->operation() == Settings::kRegisteringProtocolHandler) {
    BuildStepList();
    ScheduleNextStep();
    return;
  }
  if (!CheckOperation())
    return;
  const base::CommandLine& command_line = GetProcessCommandLine();
  if (command_line.HasSwitch(switches::kPostElevatedInstallTasks)) {
    LOG(INFO) << "Post elevation installation tasks only";
    post_install_tasks_->RunPostElevationTasks();
    Succeeded();
    return;
  }
  if (!WatchInterruptedEvent())
    return;
  if (command_line.HasSwitch(switches::kParentPid)) {
    base::WideStringToUint(
        command_line.GetSwitchValueNative(switches::kParentPid),
        &run_.second_process_id);
    VLOG(1) << "Second installer pid: " << run_.second_process_id;
  }
  const base::FilePath folder = status()->install_folder;
  const bool waits_for_package =
      command_line.HasSwitch(switches::kWaitForPackage);
  if (!waits_for_package && !CheckPackageFitsFolder(folder))
    return;
  // Before the folder is made: where the run may be elevated, its making
  // goes through the held folders too.
  if (run_.settings->GetFlag(ALL_USERS_FLAG) || MayRunElevated())
    run_.held_folders = std::make_unique<HeldFolderTree>(folder);
  if (!folder_access_->Obtain(folder) || !CreateInstallFolder(folder))
    return;
  if (waits_for_package) {
    VLOG(2) << "Need to wait for package";
    package_wait_->WaitForPackage(false);
    return;
  }
  StartInstallLog(folder);
  if (PrepareOperation(folder))
    StartStepList();
}

bool Installer::CheckOperation() {
  const Settings::Operation operation = run_.settings->operation();
  if (operation != Settings::kUpgrading && !status()->kilnor_installation &&
      run_.settings->GetFlag(AUTOUPDATE)) {
    LOG(ERROR) << Fail(kStringInstallerError, std::wstring(),
                       "Settings operation invalid for autoupdate");
    return false;
  }
  if (operation == Settings::kNoOperation) {
    LOG(ERROR) << Fail(kStringInvalidLocation, std::wstring(),
                       "Settings operation invalid");
    return false;
  }
  if (!base::GetPathForKey(base::kExeDir, &run_.package_folder)) {
    LOG(ERROR) << Fail(kStringInstallerError, std::wstring(),
                       "Failed getting our own path");
    return false;
  }
  return true;
}

bool Installer::CreateInstallFolder(const base::FilePath& folder) {
  RunJournal::Get()->Start(folder);
  if (!folder_access_->Make(folder))
    return false;
  // The journal's first line once the folder can hold it: a run killed
  // from here on leaves the folder for the recovery to take away, empty.
  if (folder_access_->made_folder() &&
      !RunJournal::Get()->RecordCreatedFolder(folder)) {
    LOG(ERROR) << FailWithCause(kStringCreateFolderFailed, folder.value(),
                                "Could not journal the installation folder",
                                ::GetLastError());
    return false;
  }
  // Cannot fail: it only marks where a rollback ends the journal.
  std::ignore = run_.transaction.ExecuteOperation(
      std::make_unique<RunJournalOperation>());
  for (InstallerObserver& observer : run_.observers)
    observer.OnInstallFolderCreated();
  return true;
}

void Installer::StartInstallLog(const base::FilePath& folder) {
  InstallLog& log = run_.install_log;
  log.copy_only = run_.settings->GetFlag(COPY_ONLY);
  log.all_users = run_.settings->GetFlag(ALL_USERS_FLAG);
  log.path = folder.value();
  log.version = GetVersionString();
  if (run_.settings->operation() == Settings::kUpgrading &&
      !status()->install_log.app_id.empty()) {
    log.app_id = status()->install_log.app_id;
  } else {
    log.app_id = std::to_string(base::Time::Now().ToTimeT());
    VLOG(1) << "AppId for new installation: " << log.app_id;
  }
}

bool Installer::PrepareOperation(const base::FilePath& folder) {
  const Settings::Operation operation = run_.settings->operation();
  // Before the version folder's name is chosen: the uninstaller's version
  // folder that a dead uninstallation left would push it aside.
  if (operation == Settings::kInstalling)
    UnfinishedUninstallation::FinishBeforeInstalling(folder);
  if (operation == Settings::kInstalling || operation == Settings::kUpgrading) {
    if (!CreateVersionSubfolder(folder))
      return false;
  } else if (operation == Settings::kUninstalling) {
    if (!uninstall_steps_->DeleteProductExecutable(folder))
      return false;
  }
  if (operation == Settings::kUpgrading)
    ApplyStoredExperiments(folder);
  copy_steps_->DecideWhetherToMove();
  if (status()->experiments.IsEnabled(kTestExperiment) !=
      base::IsFeatureEnabled(kTestExperiment)) {
    LOG(INFO) << "Changing the status of the test experiment.";
  }
  // A launcher that is no executable (or none yet) keeps the 32-bit default.
  std::ignore = GetExecutableBitness(folder.Append(kLauncherName),
                                     &run_.launcher_is_64_bit);
  return true;
}

void Installer::StartStepList() {
  BuildStepList();
  int total = static_cast<int>(steps_.size()) + 1;
  if (run_.settings->operation() != Settings::kUninstalling)
    total += copy_steps_->ExtraReports();
  for (InstallerObserver& observer : run_.observers)
    observer.OnTotalSteps(total);
  ScheduleNextStep();
}

bool Installer::WatchInterruptedEvent() {
  const std::wstring name = InstallerObjectNames(status()->install_folder)
                                .installation_interrupted_event();
  VLOG(1) << "Event name for interrupted installation: "
          << base::WideToUtf8(name);
  interrupted_event_.Set(OpenEventW(SYNCHRONIZE, FALSE, name.c_str()));
  if (!interrupted_event_.IsValid()) {
    PLOG(ERROR) << "OpenEventW failed";
    LOG(ERROR) << Fail(
        kStringInstallerError, std::wstring(),
        "Failed to open a handle to the installation interrupted event");
    return false;
  }
  if (!interrupted_watcher_.StartWatching(interrupted_event_.Get(), this)) {
    LOG(ERROR) << Fail(kStringInstallerError, std::wstring(),
                       "Failed to watch the installation interrupted event");
    return false;
  }
  return true;
}

// Every name the run writes below the folder must fit the system's path
// limit. The names the run makes itself fit below any folder that passed
// the settings' check; how deep the package's files go is known only now.
// A package too deep for the folder is refused before the run's first
// change, with the folder length it allows.
bool Installer::CheckPackageFitsFolder(const base::FilePath& folder) {
  const Settings::Operation operation = run_.settings->operation();
  if (operation != Settings::kInstalling && operation != Settings::kUpgrading)
    return true;
  if (!copy_steps_->PrepareFileLists(folder))
    return false;
  // As deep as the subfolder of the version's last reinstall would be.
  size_t deepest = copy_steps_->DeepestFile(
      base::Utf8ToWide(GetVersionString()) +
      std::wstring(kLongestVersionSubfolderSuffix, L'_'));
  if (operation == Settings::kUpgrading) {
    // The update sets the installed version's files aside.
    const InstallLog& installed = status()->install_log;
    for (const std::wstring& file : installed.files)
      deepest = std::max(deepest, installed.subfolder.size() + 1 + file.size());
    for (const std::wstring& file : installed.root_files)
      deepest = std::max(deepest, file.size());
  }
  const size_t limit = MaxInstallPathLengthFor(deepest);
  const size_t length = folder.value().size();
  if (length <= limit)
    return true;
  LOG(ERROR) << Fail(kStringFolderPathTooLong, std::to_wstring(limit),
                     "The installation folder's path has " +
                         std::to_string(length) +
                         " characters, more than the " +
                         std::to_string(limit) + " its package's files allow");
  return false;
}

// The version's own name, or the first "<version>_<n>" that is free; empty
// when none is: a longer one would not fit the room the folder's limit
// made.
std::wstring Installer::ChooseVersionSubfolder(
    const base::FilePath& folder) const {
  const std::wstring version = base::Utf8ToWide(GetVersionString());
  if (!base::PathExists(folder.Append(version)))
    return version;
  for (int suffix = 0; suffix < kVersionSubfolderAttempts; ++suffix) {
    const std::wstring candidate = version + L"_" + std::to_wstring(suffix);
    if (!base::PathExists(folder.Append(candidate)))
      return candidate;
  }
  return std::wstring();
}

bool Installer::CreateVersionSubfolder(const base::FilePath& folder) {
  const std::wstring candidate = ChooseVersionSubfolder(folder);
  if (candidate.empty()) {
    LOG(ERROR) << FailWithCause(
        kStringCreateFolderFailed,
        folder.Append(base::Utf8ToWide(GetVersionString())).value(),
        "Every subfolder name of the version is taken", ERROR_ALREADY_EXISTS);
    return false;
  }
  VLOG(1) << "Installation subfolder" << base::WideToUtf8(candidate);
  run_.install_log.subfolder = candidate;
  const bool made =
      run_.held_folders
          ? run_.held_folders->Folder(folder.Append(candidate),
                                      &run_.transaction) != nullptr
          : run_.transaction.ExecuteOperation(
                MakeCreateFolderOperation(folder.Append(candidate)));
  if (!made) {
    // The full path: the version alone names no place the user can find.
    LOG(ERROR) << FailWithCause(kStringCreateFolderFailed,
                                folder.Append(candidate).value(),
                                "Creating installation subfolder failed",
                                run_.transaction.last_error());
    return false;
  }
  return true;
}

void Installer::ApplyStoredExperiments(const base::FilePath& folder) {
  const base::RefPtr<base::JsonPrefStore> prefs = base::CreateFilePrefStore(
      base::GetPrefsTaskPool(), folder.Append(kInstallerPrefsName));
  const base::Value* value = nullptr;
  const base::ListValue* experiments = nullptr;
  if (!prefs->GetValue(kInstallerExperimentsKey, &value) ||
      !value->GetAsList(&experiments)) {
    return;
  }
  base::FeatureList* features = base::FeatureList::GetInstance();
  features->ApplyReader(base::ListFeatureReader(*experiments));
  // The command line wins over what the installation stored.
  features->ApplyReader(
      base::CommandLineFeatureReader(GetProcessCommandLine()));
}

void Installer::BuildStepList() {
  steps_.clear();
  step_list_ = GetStepList(run_.settings->operation());
  for (Step step : step_list_)
    steps_.push_back(MakeStepClosure(step));
  next_step_ = 0;
}

base::Closure Installer::MakeStepClosure(Step step) {
  const base::Closure& injected = steps_for_testing_[static_cast<size_t>(step)];
  if (!injected.is_null())
    return injected;
  return base::BindWeak(&Installer::RunStepBody, weak_source_.GetRef(), this,
                        step);
}

void Installer::RunStepBody(Step step) {
  kStepTable[static_cast<size_t>(step)].run(*this);
}

void Installer::SetStepForTesting(Step step, base::Closure body) {
  steps_for_testing_[static_cast<size_t>(step)] = std::move(body);
}

void Installer::PostStep(base::Closure step) {
  loop_->task_runner()->PostTask(
      FROM_HERE, base::BindWeak(&Installer::RunStep, weak_source_.GetRef(),
                                this, std::move(step)));
}

void Installer::RunStep(base::Closure step) {
  if (run_ended_) {
    VLOG(1) << "Installation already ended: step not run";
    return;
  }
  step.Run();
}

bool Installer::FailAtInjectedFault() {
  if (!TestHooks::ShouldFailAfterStep())
    return false;
  const int code = run_.settings->operation() == Settings::kUninstalling
                       ? kStringUninstallerError
                       : kStringInstallerError;
  LOG(ERROR) << Fail(code, std::wstring(),
                     std::string("Injected test failure after the step: ") +
                         GetStepName(step_list_[next_step_ - 1]));
  return true;
}

void Installer::ScheduleNextStep() {
  if (next_step_ > 0 && FailAtInjectedFault())
    return;
  TestHooks::OnStepStarted(next_step_, GetStepName(step_list_[next_step_]));
  PostStep(steps_[next_step_]);
  for (InstallerObserver& observer : run_.observers)
    observer.OnStep();
  ++next_step_;
}

std::string Installer::FailWithCause(int code,
                                     const std::wstring& detail,
                                     const std::string& message,
                                     uint32_t system_error) {
  if (system_error == 0)
    return Fail(code, detail, message);
  return Report({code, detail,
                 message + ": " + base::SystemErrorCodeToString(system_error),
                 system_error});
}

std::string Installer::Fail(int code,
                            const std::wstring& detail,
                            const std::string& message) {
  return Report({code, detail, message, 0});
}

std::string Installer::Report(const RunError& error) {
  if (run_ended_) {
    LOG(WARNING) << "Error after the installation ended, not reported";
    return error.message;
  }
  for (InstallerObserver& observer : run_.observers)
    observer.OnError(error);
  Cancel();
  return error.message;
}

void Installer::Cancel() {
  if (run_ended_)
    return;
  LOG(INFO) << "Installation cancelled";
  run_ended_ = true;
  run_.transaction.RollbackOperations();
  RunJournal::Get()->Finish();
  Reset();
  for (InstallerObserver& observer : run_.observers)
    observer.OnInstallerTerminated(false);
}

void Installer::Succeeded() {
  if (run_ended_) {
    LOG(WARNING) << "Installation already ended, success not reported";
    return;
  }
  // The last step of a list ends here instead of in `ScheduleNextStep`.
  if (next_step_ > 0 && FailAtInjectedFault())
    return;
  // Committed before the success is told: a run that dies from here on is
  // finished by the next one, not undone behind the user's back. Without
  // the line on the disk the commit's removals could not be told from a
  // run to undo: the run fails instead.
  if (!RunJournal::Get()->RecordCommitted()) {
    LOG(ERROR) << Fail(run_.settings->operation() == Settings::kUninstalling
                           ? kStringUninstallerError
                           : kStringInstallerError,
                       std::wstring(), "Failed committing the run's journal");
    return;
  }
  LOG(INFO) << "Installation succeeded";
  run_ended_ = true;
  succeeded_ = true;
  run_.transaction.DestroyOperations();
  RunJournal::Get()->Finish();
  if (run_.delete_empty_company_key) {
    update_steps_->DeleteEmptyCompanyKey(HKEY_CURRENT_USER);
    update_steps_->DeleteEmptyCompanyKey(HKEY_LOCAL_MACHINE);
  }
  for (InstallerObserver& observer : run_.observers)
    observer.OnSuccess();
  Reset();
}

void Installer::Reset() {
  // A signal that arrives now must find nothing left to act on: a late
  // interruption would otherwise roll back a finished installation.
  interrupted_watcher_.StopWatching();
  package_wait_->StopWatching();
  folder_access_->Release();
  run_.settings = nullptr;
  run_.uninstall_key_name.clear();
  running_ = false;
}

void Installer::OnObjectSignaled(HANDLE object) {
  if (run_ended_) {
    LOG(INFO) << "Installation already ended, signal ignored";
    return;
  }
  if (object == interrupted_event_.Get()) {
    LOG(INFO) << "Installation was interrupted";
    Cancel();
    return;
  }
  LOG(INFO) << "Package is ready";
  package_wait_->HandOverToPackageInstaller();
}

std::wstring Installer::Resolve(const std::wstring& name) {
  if (name == L"InstallFolder")
    return run_.settings ? status()->install_folder.value() : std::wstring();
  if (name == L"Uninstall")
    return run_.uninstall_key_name;
  return ResolveProductPlaceholder(name);
}

RegistryData* Installer::GetRegistryRecord(HKEY root) {
  if (!run_.registry_logging)
    return nullptr;
  return root == HKEY_LOCAL_MACHINE ? &run_.install_log.hklm_registry
                                    : &run_.install_log.hkcu_registry;
}

}  // namespace installer
