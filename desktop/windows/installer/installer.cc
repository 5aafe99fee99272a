#include "desktop/windows/installer/installer.h"

#include <algorithm>
#include <climits>
#include <utility>

#include "base/bind.h"
#include "base/command_line.h"
#include "base/features/command_line_feature_reader.h"
#include "base/features/feature_list.h"
#include "base/features/list_feature_reader.h"
#include "base/files/file_util.h"
#include "base/location.h"
#include "base/logging.h"
#include "base/message_loop/message_loop.h"
#include "base/path_service.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/string_split.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/threading/prefs_task_pool.h"
#include "base/time/time.h"
#include "base/values.h"
#include "components/prefs/json_pref_store.h"
#include "desktop/windows/installer/folder_holds_exactly.h"
#include "desktop/windows/installer/installer_names.h"
#include "desktop/windows/installer/installer_object_names.h"
#include "desktop/windows/installer/installer_process_switches.h"
#include "desktop/windows/installer/installer_version.h"
#include "desktop/windows/installer/service/access_permissions.h"
#include "desktop/windows/installer/service/registry_entry.h"
#include "desktop/windows/installer/service/transactions/copy_file_operation.h"
#include "desktop/windows/installer/service/transactions/create_folder_operation.h"
#include "desktop/windows/installer/service/transactions/delete_file_operation.h"
#include "desktop/windows/installer/service/transactions/move_file_operation.h"
#include "desktop/windows/installer/service/transactions/run_journal.h"
#include "desktop/windows/installer/service/transactions/run_journal_operation.h"
#include "desktop/windows/installer/service/utils.h"
#include "desktop/windows/installer/settings_switches.h"
#include "desktop/windows/installer/status.h"
#include "desktop/windows/installer/testing/test_hooks.h"

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

constexpr const char* kStepNames[Installer::kStepCount] = {
    "copy the package files",
    "copy the root files",
    "install the launcher",
    "set up the registry",
    "install the shortcuts",
    "write the installer preferences",
    "install the components",
    "finalize the installation",
    "remove the previously installed files",
    "remove old files from the installation root",
    "clean up the registry",
    "update the shortcuts",
    "preserve the previous installer status",
    "remove the shortcuts and unpin",
    "finalize the uninstallation",
    "remove the installed files",
    "uninstall the components",
    "clean up after the uninstallation",
    "register as protocol handler",
    "succeeded",
};

// Read, write and execute: what the steps need on the installation folder.
constexpr DWORD kInstallFolderAccess = 0x1201BF;
constexpr int kFileObject = 1;  // SE_FILE_OBJECT

constexpr char kFilesList[] = "files_list";
constexpr char kRootFilesList[] = "root_files_list";
constexpr char kInstallerPrefsName[] = "installer_prefs.json";
constexpr char kInstallerExperimentsKey[] = "installer-experiments";
constexpr char kTestExperiment[] = "installer-experiment-test";

// The last installation folder, as the settings read it back, and the
// value a former 64-bit installer wrote beside it.
constexpr RegistryEntryDescription kSetLastInstallPathRegOp = {
    L"{CompanyRegistryKey}",
    L"Last {Stream} Install Path",
    REG_SZ,
    L"{InstallFolder}\\",
    0,
    RootFilter::kAnyRoot,
    0,
    0,
    0};
constexpr RegistryEntryDescription kDeleteLegacyX64InstallPathRegOp = {
    L"{CompanyRegistryKey}",
    L"Last {Stream} Install Path x64",
    kRemoveValue,
    {},
    0,
    RootFilter::kAnyRoot,
    0,
    0,
    0};

// A list entry names a file below the package and installation folders.
// Entries with ".." are refused by the copy itself; an absolute one ("C:\x",
// "\\server\x"), a rooted one ("\x") or one with a drive or stream colon
// ("C:x") would be joined as it stands and reach outside them.
bool IsRelativeListEntry(const std::string& entry) {
  const base::FilePath path = base::FilePath::FromUTF8(entry);
  return !path.empty() && !path.IsAbsolute() &&
         !base::FilePath::IsSeparator(path.value().front()) &&
         path.value().find(L':') == std::wstring::npos;
}

// A copy step reports its progress at most this often: finer than any
// progress bar shows, and a message and a posted task per file made a large
// package's copy cost mostly reports.
constexpr size_t kMaxCopyReports = 100;

// The files one posted task of a copy step copies, and reports once.
size_t CopyBatchSize(size_t files) {
  return std::max<size_t>(1, (files + kMaxCopyReports - 1) / kMaxCopyReports);
}

// The reports a list's copy step makes beyond the one of its closure: one
// per further batch. An empty list is skipped with its closure's report.
int ExtraCopyReports(const std::vector<std::string>& list) {
  if (list.empty())
    return 0;
  const size_t batch = CopyBatchSize(list.size());
  return static_cast<int>((list.size() + batch - 1) / batch) - 1;
}

// Package files that later steps, or this very process, still read from the
// package folder: they are copied even where the others are moved.
constexpr const char* kPackageFilesReadLater[] = {
    "installer.exe",        "tarvo_installer.dll",
    "launcher.exe",         "installer_helper.exe",
    "installer_helper_64.exe", "pref_default_overrides",
    "server_tracking_data", "installer_prefs_include.json",
    kFilesList,             kRootFilesList,
};

bool IsReadAfterCopying(const std::string& entry) {
  for (const char* name : kPackageFilesReadLater) {
    if (base::EqualsCaseInsensitiveAscii(entry, name))
      return true;
  }
  // The tracking data may be named on the command line.
  const base::CommandLine& command_line = GetProcessCommandLine();
  return command_line.HasSwitch(switches::kServerTrackingData) &&
         base::FilePath::FromUTF8(entry) ==
             command_line.GetSwitchValuePath(switches::kServerTrackingData);
}

}  // namespace

Installer::Installer() : loop_(base::MessageLoop::current()) {}

Installer::~Installer() {
  if (running_)
    Cancel();
  // Stopped before the handles close: a wait on a closed handle is
  // undefined.
  package_ready_watcher_.StopWatching();
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
  return kStepNames[static_cast<size_t>(step)];
}

void Installer::AddObserver(InstallerObserver* observer) {
  observers_.AddObserver(observer);
}

void Installer::RemoveObserver(InstallerObserver* observer) {
  observers_.RemoveObserver(observer);
}

void Installer::Run(Settings* settings) {
  LOG(INFO) << "Beginning installation";
  settings->set_changeable(false);
  settings_ = settings;
  succeeded_ = false;
  loop_->task_runner()->PostTask(FROM_HERE,
                                 base::BindWeak(&Installer::BuildStepsAndStart,
                                                weak_source_.GetRef(), this));
}

const Status* Installer::status() const {
  return settings_->GetStatus();
}

void Installer::BuildStepsAndStart() {
  running_ = true;
  const Settings::Operation operation = settings_->operation();
  if (operation == Settings::kRegisteringProtocolHandler) {
    BuildStepList();
    ScheduleNextStep();
    return;
  }
  if (operation != Settings::kUpgrading && !status()->kilnor_installation &&
      settings_->GetFlag(AUTOUPDATE)) {
    LOG(ERROR) << Fail(kErrorInstall, std::wstring(),
                       "Settings operation invalid for autoupdate");
    return;
  }
  if (operation == Settings::kNoOperation) {
    LOG(ERROR) << Fail(kErrorInvalidLocation, std::wstring(),
                       "Settings operation invalid");
    return;
  }
  if (!base::GetPathForKey(base::kExeDir, &package_folder_)) {
    LOG(ERROR) << Fail(kErrorInstall, std::wstring(),
                       "Failed getting our own path");
    return;
  }
  const base::CommandLine& command_line = GetProcessCommandLine();
  if (command_line.HasSwitch(switches::kPostElevatedInstallTasks)) {
    LOG(INFO) << "Post elevation installation tasks only";
    RunPostElevationTasks();
    Succeeded();
    return;
  }
  if (!WatchInterruptedEvent())
    return;
  if (command_line.HasSwitch(switches::kParentPid)) {
    base::WideStringToUint(
        command_line.GetSwitchValueNative(switches::kParentPid),
        &second_process_id_);
    VLOG(1) << "Second installer pid: " << second_process_id_;
  }

  const base::FilePath folder = status()->install_folder;
  if (!ObtainWriteAccess(folder))
    return;
  RunJournal::Get()->Start(folder);
  if (!transaction_.ExecuteOperation(MakeCreateFolderOperation(folder))) {
    LOG(ERROR) << Fail(kErrorCreateFolder, folder.value(),
                       "Could not create installation folder");
    return;
  }
  transaction_.ExecuteOperation(std::make_unique<RunJournalOperation>());
  for (InstallerObserver& observer : observers_)
    observer.OnInstallFolderCreated();

  if (command_line.HasSwitch(switches::kWaitForPackage)) {
    VLOG(2) << "Need to wait for package";
    WaitForPackage(false);
    return;
  }

  install_log_.copy_only = settings_->GetFlag(COPY_ONLY);
  install_log_.all_users = settings_->GetFlag(ALL_USERS_FLAG);
  install_log_.path = folder.value();
  install_log_.version = GetVersionString();
  if (operation == Settings::kUpgrading &&
      !status()->install_log.app_id.empty()) {
    install_log_.app_id = status()->install_log.app_id;
  } else {
    install_log_.app_id = std::to_string(base::Time::Now().ToTimeT());
    VLOG(1) << "AppId for new installation: " << install_log_.app_id;
  }

  if (operation == Settings::kInstalling || operation == Settings::kUpgrading) {
    if (!PrepareFileLists(folder) || !CreateVersionSubfolder(folder))
      return;
  } else if (operation == Settings::kUninstalling) {
    if (!DeleteProductExecutable(folder))
      return;
  }
  if (operation == Settings::kUpgrading)
    ApplyStoredExperiments(folder);
  move_package_files_ = ShouldMovePackageFiles();
  if (status()->experiments.IsEnabled(kTestExperiment) !=
      base::IsFeatureEnabled(kTestExperiment)) {
    LOG(INFO) << "Changing the status of the test experiment.";
  }
  launcher_is_executable_ = GetExecutableBitness(
      folder.Append(kLauncherName), &launcher_is_64_bit_);

  BuildStepList();
  int total = static_cast<int>(steps_.size()) + 1;
  if (operation != Settings::kUninstalling)
    total += ExtraCopyReports(files_) + ExtraCopyReports(root_files_);
  for (InstallerObserver& observer : observers_)
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
        kErrorInstall, std::wstring(),
        "Failed to open a handle to the installation interrupted event");
    return false;
  }
  if (!interrupted_watcher_.StartWatching(interrupted_event_.Get(), this)) {
    LOG(ERROR) << Fail(kErrorInstall, std::wstring(),
                       "Failed to watch the installation interrupted event");
    return false;
  }
  return true;
}

bool Installer::ObtainWriteAccess(const base::FilePath& folder) {
  const bool is_elevated_admin = IsUserAdmin(false);
  VLOG(1) << "is_elevated_admin: " << is_elevated_admin;
  const bool all_users = settings_->GetFlag(ALL_USERS_FLAG);
  const bool single_profile = settings_->GetFlag(SINGLE_PROFILE);
  const Settings::Operation operation = settings_->operation();
  bool has_write = true;

  if (all_users && settings_->GetFlag(SILENT) && !is_elevated_admin) {
    LOG(ERROR) << Fail(
        kErrorInstall, std::wstring(),
        "Installation requires elevation, but cannot elevate when silent");
    return false;
  }
  if (status()->valid_parent_folder != folder &&
      !(all_users && !is_elevated_admin)) {
    VLOG(2) << "Using write permissions from the status";
    has_write = status()->has_write_access;
    if (has_write &&
        !transaction_.ExecuteOperation(MakeCreateFolderOperation(folder))) {
      LOG(ERROR) << Fail(kErrorCreateFolder, folder.value(),
                         "Could not create installation folder");
      return false;
    }
  }
  SaveLastInstallPath();
  if (has_write)
    has_write =
        CheckAccessToPath(folder.value(), kFileObject, kInstallFolderAccess);
  if (operation == Settings::kInstalling && !has_write && single_profile &&
      status()->single_profile != 1) {
    LOG(ERROR) << Fail(kErrorPrivileges, std::wstring(),
                       "Single profile installations are only allowed to "
                       "locations where the user has write access");
    return false;
  }
  if (all_users && !is_elevated_admin) {
    VLOG(1) << "All users is set but we have no admin privs -> elevate";
    return HandleRelaunchResult(RelaunchElevated());
  }
  if (operation == Settings::kInstalling && is_elevated_admin &&
      single_profile && status()->single_profile != 1) {
    // A lasting grant: nothing is kept to undo it.
    GrantAccessToCurrentUser(folder.value(), kFileObject, GENERIC_ALL, false,
                             nullptr);
  }
  LOG(INFO) << "Write privileges for install folder: " << has_write;
  if (has_write ||
      GrantAccessToCurrentUser(folder.value(), kFileObject,
                               kInstallFolderAccess, true, &saved_security_)) {
    return true;
  }
  if (is_elevated_admin) {
    LOG(ERROR) << Fail(kErrorPrivileges, std::wstring(),
                       "Could not obtain write permissions to installation "
                       "folder");
    return false;
  }
  if (IsUserAdmin(true)) {
    VLOG(1) << "Running elevated because of folder privileges";
    return HandleRelaunchResult(RelaunchElevated());
  }
  LOG(INFO) << "Need temporary write permissions from administrative user";
  const bool permanent = single_profile || GetProcessCommandLine().HasSwitch(
                                               switches::kComponents);
  switch (GrantFolderPermissionElevated(folder, permanent)) {
    case kElevatedDone:
      VLOG(2) << "Temporary write permission obtained";
      break;
    case kElevationImpossible:
      LOG(ERROR) << Fail(kErrorElevation, std::wstring(),
                         "Failed to elevate the process to give us write "
                         "permissions to installation folder");
      return false;
    case kElevatedProcessFailed:
      LOG(ERROR) << Fail(kErrorInstall, std::wstring(),
                         "The process for giving us write permission to the "
                         "installer folder didn't complete successfully");
      return false;
    default:
      LOG(ERROR) << Fail(kErrorInstall, std::wstring(),
                         "Error when setting up the process to give us write "
                         "permissions to installation folder");
      return false;
  }
  if (!CheckAccessToPath(folder.value(), kFileObject, kInstallFolderAccess)) {
    LOG(ERROR) << Fail(kErrorPrivileges, std::wstring(),
                       "No write access to installation folder after "
                       "attempting to get it via elevated process");
    return false;
  }
  return true;
}

bool Installer::HandleRelaunchResult(ElevationResult result) {
  switch (result) {
    case kElevatedDone:
      VLOG(2) << "Succeeded elevated run";
      Succeeded();
      return false;
    case kRunContinuesInPackageWait:
      // The elevated installer did the work; the package wait (or the
      // hand-over it already made) reports the run's end.
      VLOG(2) << "Succeeded elevated run, waiting for the package";
      return false;
    case kElevationImpossible:
      LOG(ERROR) << Fail(kErrorElevation, std::wstring(),
                         "Elevated installation failed.");
      return false;
    case kElevatedProcessFailed:
      LOG(ERROR) << Fail(kErrorInstall, std::wstring(),
                         "Installer process did not complete successfully.");
      return false;
    case kElevationSetupError:
      LOG(ERROR) << Fail(kErrorInstall, std::wstring(),
                         "Error when setting up the installer process");
      return false;
  }
  return true;
}

void Installer::SaveLastInstallPath() {
  if (settings_->operation() == Settings::kUninstalling ||
      settings_->GetFlag(COPY_ONLY) || settings_->GetFlag(AUTOUPDATE)) {
    return;
  }
  VLOG(1) << "Saving last installation path.";
  std::unique_ptr<Operation> operation;
  RegistryEntry(kSetLastInstallPathRegOp, this)
      .CreateOperation(HKEY_CURRENT_USER, &operation);
  if (!operation)
    LOG(ERROR) << "Could not convert kSetLastInstallPathRegOp";
  else if (!transaction_.ExecuteOperation(std::move(operation)))
    LOG(WARNING) << "Could not write last installation path";
  if (settings_->architecture() != Settings::kArchitectureX64)
    return;
  RegistryEntry(kDeleteLegacyX64InstallPathRegOp, this)
      .CreateOperation(HKEY_CURRENT_USER, &operation);
  if (!operation || !transaction_.ExecuteOperation(std::move(operation)))
    LOG(WARNING) << "Could not delete legacy x64 last install path";
}

bool Installer::PrepareFileLists(const base::FilePath& folder) {
  VLOG(1) << "Reading files list";
  if (!ReadFileList(kFilesList, &files_)) {
    LOG(ERROR) << Fail(kErrorInstall, std::wstring(),
                       "Could not read files list");
    return false;
  }
  if (files_.empty()) {
    LOG(ERROR) << Fail(kErrorInstall, std::wstring(), "No files in files list");
    return false;
  }
  if (ReadFileList(kRootFilesList, &root_files_))
    LOG(INFO) << "Read root files list";
  for (const std::vector<std::string>* list : {&files_, &root_files_}) {
    for (const std::string& entry : *list) {
      if (!IsRelativeListEntry(entry)) {
        LOG(ERROR) << Fail(
            kErrorInstall, std::wstring(),
            "Path outside the installation in files list: " + entry);
        return false;
      }
    }
  }
  return true;
}

bool Installer::ShouldMovePackageFiles() const {
  // Only a folder that goes when the installation ends: one a user runs the
  // installer from must stay whole. A moved file keeps the access list it
  // got in the user's temporary folder, while an installation for all users
  // needs the one its folder passes on to a new file.
  return GetProcessCommandLine().HasSwitch(switches::kTemporaryPackage) &&
         !settings_->GetFlag(ALL_USERS_FLAG);
}

bool Installer::ReadFileList(const char* name, std::vector<std::string>* list) {
  std::string text;
  // Within INT_MAX bytes the entries can be counted in an int.
  if (!base::ReadFileToStringWithMaxSize(package_folder_.AppendASCII(name),
                                         &text, INT_MAX)) {
    return false;
  }
  *list = base::SplitNarrowByAnyOf(text, "\r\n", base::KEEP_WHITESPACE,
                                   base::SPLIT_WANT_NONEMPTY);
  return true;
}

bool Installer::CreateVersionSubfolder(const base::FilePath& folder) {
  const std::wstring version = base::Utf8ToWide(GetVersionString());
  std::wstring candidate = version;
  for (int suffix = 0; base::PathExists(folder.Append(candidate)); ++suffix)
    candidate = version + L"_" + std::to_wstring(suffix);
  VLOG(1) << "Installation subfolder" << base::WideToUtf8(candidate);
  install_log_.subfolder = candidate;
  if (!transaction_.ExecuteOperation(
          MakeCreateFolderOperation(folder.Append(candidate)))) {
    LOG(ERROR) << Fail(kErrorCreateFolder, candidate,
                       "Creating installation subfolder failed");
    return false;
  }
  return true;
}

bool Installer::DeleteProductExecutable(const base::FilePath& folder) {
  const std::string executable = GetProductExecutableName();
  const base::FilePath path =
      folder.Append(status()->install_log.subfolder).AppendASCII(executable);
  if (!transaction_.ExecuteOperation(
          MakeDeleteFileOperation(path, true, true))) {
    LOG(ERROR) << Fail(kErrorExecutableInUse, std::wstring(),
                       "Can't uninstall when " + executable + " is in use");
    return false;
  }
  return true;
}

void Installer::ApplyStoredExperiments(const base::FilePath& folder) {
  const base::RefPtr<base::JsonPrefStore> prefs = base::CreateFilePrefStore(
      base::GetPrefsTaskPool(), folder.AppendASCII(kInstallerPrefsName));
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
  step_list_ = GetStepList(settings_->operation());
  for (Step step : step_list_)
    steps_.push_back(MakeStepClosure(step));
  next_step_ = 0;
}

base::Closure Installer::MakeStepClosure(Step step) {
  const base::Closure& injected = steps_for_testing_[static_cast<size_t>(step)];
  if (!injected.is_null())
    return injected;
  switch (step) {
    case Step::kCopyFiles:
      return base::BindWeak(&Installer::StepCopyFile, weak_source_.GetRef(),
                            this, 0, false);
    case Step::kCopyRootFiles:
      return base::BindWeak(&Installer::StepCopyFile, weak_source_.GetRef(),
                            this, 0, true);
    case Step::kRemovePreviousFiles:
      return base::BindWeak(&Installer::StepRemovePreviousFiles,
                            weak_source_.GetRef(), this, true);
    case Step::kRemoveInstalledFiles:
      return base::BindWeak(&Installer::StepRemovePreviousFiles,
                            weak_source_.GetRef(), this, false);
    case Step::kRemoveOldRootFiles:
      return base::BindWeak(&Installer::StepRemoveOldRootFiles,
                            weak_source_.GetRef(), this);
    case Step::kCleanUpRegistry:
      return base::BindWeak(&Installer::StepCleanUpRegistry,
                            weak_source_.GetRef(), this);
    case Step::kPreserveInstallerStatus:
      return base::BindWeak(&Installer::StepPreserveInstallerStatus,
                            weak_source_.GetRef(), this);
    case Step::kRemoveShortcuts:
      return base::BindWeak(&Installer::StepRemoveShortcuts,
                            weak_source_.GetRef(), this);
    case Step::kFinalizeUninstallation:
      return base::BindWeak(&Installer::StepFinalizeUninstallation,
                            weak_source_.GetRef(), this);
    case Step::kUninstallComponents:
      return base::BindWeak(&Installer::StepUninstallComponents,
                            weak_source_.GetRef(), this);
    case Step::kCleanUpAfterUninstallation:
      return base::BindWeak(&Installer::StepCleanUpAfterUninstallation,
                            weak_source_.GetRef(), this);
    case Step::kInstallLauncher:
      return base::BindWeak(&Installer::StepInstallLauncher,
                            weak_source_.GetRef(), this);
    case Step::kSetUpRegistry:
      return base::BindWeak(&Installer::StepSetUpRegistry,
                            weak_source_.GetRef(), this);
    case Step::kInstallShortcuts:
      return base::BindWeak(&Installer::StepInstallShortcuts,
                            weak_source_.GetRef(), this);
    case Step::kWriteInstallerPrefs:
      return base::BindWeak(&Installer::StepWriteInstallerPrefs,
                            weak_source_.GetRef(), this);
    case Step::kInstallComponents:
      return base::BindWeak(&Installer::StepInstallComponents,
                            weak_source_.GetRef(), this);
    case Step::kFinalizeInstallation:
      return base::BindWeak(&Installer::StepFinalizeInstallation,
                            weak_source_.GetRef(), this);
    case Step::kUpdateShortcuts:
      return base::BindWeak(&Installer::StepUpdateShortcuts,
                            weak_source_.GetRef(), this);
    case Step::kRegisterProtocolHandler:
      return base::BindWeak(&Installer::StepRegisterProtocolHandler,
                            weak_source_.GetRef(), this);
    case Step::kSucceeded:
      return base::BindWeak(&Installer::Succeeded, weak_source_.GetRef(), this);
    default:
      return base::BindWeak(&Installer::StepNotAvailable, weak_source_.GetRef(),
                            this, step);
  }
}

void Installer::StepNotAvailable(Step step) {
  LOG(ERROR) << Fail(
      kErrorInstall, std::wstring(),
      std::string("Installer step not available: ") + GetStepName(step));
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
  const int code = settings_->operation() == Settings::kUninstalling
                       ? kErrorUninstall
                       : kErrorInstall;
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
  for (InstallerObserver& observer : observers_)
    observer.OnStep();
  ++next_step_;
}

void Installer::StepCopyFile(int index, bool is_root) {
  const std::vector<std::string>& list = is_root ? root_files_ : files_;
  if (is_root && index == 0 && list.empty()) {
    VLOG(2) << "Skipping copying of root files since list is empty.";
    ScheduleNextStep();
    return;
  }
  if (index < 0 || static_cast<size_t>(index) >= list.size()) {
    LOG(ERROR) << Fail(kErrorInstall, std::wstring(),
                       "Invalid index " + std::to_string(index) +
                           " passed to StepCopyFile (max: " +
                           std::to_string(list.size()) + ")");
    return;
  }
  const size_t end = std::min(
      list.size(), static_cast<size_t>(index) + CopyBatchSize(list.size()));
  for (size_t i = static_cast<size_t>(index); i < end; ++i) {
    if (!CopyPackageFile(list[i], is_root))
      return;
  }
  if (end == list.size()) {
    VLOG(1) << "Done copying " << (is_root ? "root " : "") << "files";
    ScheduleNextStep();
    return;
  }
  for (InstallerObserver& observer : observers_)
    observer.OnStep();
  PostStep(base::BindWeak(&Installer::StepCopyFile, weak_source_.GetRef(), this,
                          static_cast<int>(end), is_root));
}

bool Installer::CopyPackageFile(const std::string& entry, bool is_root) {
  const base::FilePath relative = base::FilePath::FromUTF8(entry);
  VLOG(1) << "Copying " << (is_root ? "root " : "") << "file " << entry;
  const base::FilePath source = package_folder_.Append(relative.value());
  const base::FilePath folder = status()->install_folder;
  const base::FilePath target =
      is_root ? folder.Append(relative.value())
              : folder.Append(install_log_.subfolder).Append(relative.value());
  // Root files are few, and some are read again by later steps.
  const bool movable = !is_root && !IsReadAfterCopying(entry);
  if (!(movable && MovedWithItsFolder(relative)) &&
      !TransferPackageFile(source, target, movable)) {
    LOG(ERROR) << Fail(kErrorCopyFile, target.value(),
                       "Failed copying " + entry);
    return false;
  }
  (is_root ? install_log_.root_files : install_log_.files)
      .push_back(relative.value());
  return true;
}

bool Installer::TransferPackageFile(const base::FilePath& source,
                                    const base::FilePath& target,
                                    bool movable) {
  if (movable && move_package_files_) {
    if (transaction_.ExecuteOperation(std::make_unique<MoveFileOperation>(
            source, target, MoveFileOperation::Reach::kSameVolume))) {
      return true;
    }
    // Another volume, or a file held open: a copy does for those, and the
    // rest would most likely fail the same way.
    LOG(WARNING) << "Moving package files failed: copying them instead";
    move_package_files_ = false;
  }
  return transaction_.ExecuteOperation(
      std::make_unique<CopyFileOperation>(source, target));
}

bool Installer::MovedWithItsFolder(const base::FilePath& relative) {
  const std::wstring& path = relative.value();
  const size_t separator = path.find(L'\\');
  if (separator == std::wstring::npos || separator == 0)
    return false;
  const std::wstring top = path.substr(0, separator);
  // A folder moved earlier stays moved, even once moves have stopped.
  const auto known = whole_folder_moved_.find(top);
  if (known != whole_folder_moved_.end())
    return known->second;
  const bool moved = move_package_files_ && MoveWholeFolder(top);
  whole_folder_moved_.emplace(top, moved);
  return moved;
}

bool Installer::MoveWholeFolder(const std::wstring& top) {
  // Only a plain name: "..", "." or a second level spelled with '/' are left
  // to the checks of the one-by-one way.
  if (top == L"." || top == L".." || top.find(L'/') != std::wstring::npos)
    return false;
  // A root file inside the folder (in any case) is still to be copied from
  // it.
  for (const std::string& entry : root_files_) {
    const std::wstring path = base::FilePath::FromUTF8(entry).value();
    if (path.size() > top.size() && path[top.size()] == L'\\' &&
        ::CompareStringOrdinal(path.c_str(), static_cast<int>(top.size()),
                               top.c_str(), static_cast<int>(top.size()),
                               TRUE) == CSTR_EQUAL) {
      return false;
    }
  }
  // The entries are compared as UTF-8: only the folder's own are converted.
  const std::string prefix = base::WideToUtf8(top) + "\\";
  std::vector<std::wstring> below;
  for (const std::string& entry : files_) {
    if (entry.starts_with(prefix))
      below.push_back(base::Utf8ToWide(entry.substr(prefix.size())));
  }
  const base::FilePath source = package_folder_.Append(top);
  const base::FilePath target =
      status()->install_folder.Append(install_log_.subfolder).Append(top);
  if (base::PathExists(target) || !FolderHoldsExactly(source, std::move(below)))
    return false;
  if (!transaction_.ExecuteOperation(std::make_unique<MoveFileOperation>(
          source, target, MoveFileOperation::Reach::kSameVolume))) {
    LOG(WARNING) << "Moving the package folder " << source.AsUTF8()
                 << " failed: its files go one by one";
    return false;
  }
  LOG(INFO) << "Moved the package folder " << source.AsUTF8() << " whole";
  return true;
}

std::string Installer::Fail(int code,
                            const std::wstring& detail,
                            const std::string& message) {
  if (run_ended_) {
    LOG(WARNING) << "Error after the installation ended, not reported";
    return message;
  }
  for (InstallerObserver& observer : observers_)
    observer.OnError(code, detail, message);
  Cancel();
  return message;
}

void Installer::Cancel() {
  if (run_ended_)
    return;
  LOG(INFO) << "Installation cancelled";
  run_ended_ = true;
  transaction_.RollbackOperations();
  RunJournal::Get()->Finish();
  Reset();
  for (InstallerObserver& observer : observers_)
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
  LOG(INFO) << "Installation succeeded";
  run_ended_ = true;
  succeeded_ = true;
  // Committed before the success is told: a run that dies from here on is
  // finished by the next one, not undone behind the user's back.
  RunJournal::Get()->RecordCommitted();
  transaction_.DestroyOperations();
  RunJournal::Get()->Finish();
  if (delete_empty_company_key_) {
    DeleteEmptyCompanyKey(HKEY_CURRENT_USER);
    DeleteEmptyCompanyKey(HKEY_LOCAL_MACHINE);
  }
  for (InstallerObserver& observer : observers_)
    observer.OnSuccess();
  Reset();
}

void Installer::Reset() {
  // A signal that arrives now must find nothing left to act on: a late
  // interruption would otherwise roll back a finished installation.
  interrupted_watcher_.StopWatching();
  package_ready_watcher_.StopWatching();
  if (saved_security_) {
    RestoreSecurityInfo(saved_security_.get());
    saved_security_.reset();
  }
  if (permission_undo_event_.IsValid()) {
    if (!SetEvent(permission_undo_event_.Get()))
      PLOG(ERROR) << "SetEvent failed";
    // Once is enough: a second reset must not release a later grant.
    permission_undo_event_.Close();
  }
  settings_ = nullptr;
  uninstall_key_name_.clear();
  running_ = false;
}

}  // namespace installer
