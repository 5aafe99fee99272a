#include "desktop/windows/installer/frontend/installer_runner.h"

#include <optional>
#include <string>

#include "base/bind.h"
#include "base/command_line.h"
#include "base/log_message.h"
#include "base/logging.h"
#include "base/path_service.h"
#include "base/process/launch.h"
#include "base/strings/string_format.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/utf_string_conversions.h"
#include "base/threading/lock.h"
#include "desktop/windows/crash_reporter/crash_reporting.h"
#include "desktop/windows/installer/ipc/installer_message.h"
#include "desktop/windows/installer/ipc/mailslot_name.h"
#include "desktop/windows/installer/product/installer_object_names.h"
#include "desktop/windows/installer/product/installer_string_ids.h"
#include "desktop/windows/installer/product/package_file_names.h"
#include "desktop/windows/installer/settings/all_users_folder_check.h"
#include "desktop/windows/installer/settings/may_run_elevated.h"
#include "desktop/windows/installer/settings/package_acceptance.h"
#include "desktop/windows/installer/settings/settings.h"
#include "desktop/windows/installer/settings/settings_switches.h"
#include "desktop/windows/installer/settings/status.h"
#include "desktop/windows/installer/signing/signature_refusal.h"
#include "desktop/windows/installer/signing/signed_program_launcher.h"
#include "desktop/windows/installer/system/utils.h"
#include "desktop/windows/installer/testing/test_hooks.h"
#include "desktop/windows/installer/transactions/file_errors.h"

namespace installer {

namespace {

constexpr wchar_t kComponentSuitePrefix[] = L"suite:";

// The mailslot's name holds the folder, and a name past MAX_PATH is refused:
// it must fit for the longest folder the settings accept.
static_assert(NameLength(kMailslotPathPrefix) +
                  NameLength(kInstallerChannelPrefix) + kMaxInstallPathLength <
              MAX_PATH);

}  // namespace

InstallerRunner::InstallerRunner(const base::FilePath& package_folder,
                                 const base::FilePath& component_path,
                                 bool package_is_temporary)
    : receiver_(this),
      component_path_(component_path),
      package_folder_(package_folder),
      package_is_temporary_(package_is_temporary) {
  observers_.AddObserver(&reports_);
}

InstallerRunner::~InstallerRunner() {
  Stop();
}

void InstallerRunner::AddObserver(InstallerObserver* observer) {
  observers_.AddObserver(observer);
}

void InstallerRunner::RemoveObserver(InstallerObserver* observer) {
  observers_.RemoveObserver(observer);
}

bool InstallerRunner::StartInstallation(Settings* settings) {
  if (settings_ == settings)
    LOG(ERROR) << "Duplicate installation attempt detected";
  CHECK(!settings_);
  CHECK(!settings->IsStatusPending());
  CHECK(!backend_running_);
  LOG(INFO) << "Beginning installation";
  if (!CanStart(*settings))
    return false;
  settings->set_changeable(false);
  settings_ = settings;
  reports_.Reset();
  package_handed_over_ = false;
  // Every name from one spelling of the folder, whatever the user typed.
  const InstallerObjectNames names(settings->GetStatus()->install_folder);

  if (!AcquireMutex(names.mutex()))
    return false;

  if (!ConnectReceiver(names.channel()))
    return false;
  base::CommandLine command_line = MakeBackendCommandLine(*settings);

  VLOG(1) << "Event name for interrupted installation: "
          << base::WideToUtf8(names.installation_interrupted_event());
  interrupted_event_ = CreateOwnEvent(
      names.installation_interrupted_event(),
      {"Could not create installation interruption event",
       "Installation interruption event made by another process"});
  if (!interrupted_event_.IsValid())
    return false;

  if (!ChooseBackendProgram(names, &command_line))
    return false;
  AppendPackageSwitches(&command_line);
  return LaunchBackend(&command_line) && WatchBackend();
}

bool InstallerRunner::CanStart(const Settings& settings) {
  const Status* status = settings.GetStatus();
  if (status && !status->recovery.complete()) {
    ReportUnfinishedRecovery(status->recovery.unfinished,
                             status->recovery.error);
    return false;
  }
  if (settings.operation() == Settings::kNoOperation) {
    ReportInvalidFolder(settings);
    return false;
  }
  if (status && settings.GetFlag(ALL_USERS_FLAG) &&
      settings.operation() != Settings::kUninstalling &&
      !AcceptAllUsersFolder(status->install_folder)) {
    return false;
  }
  return !have_package_ || AcceptsPackage(settings);
}

// Where the package meets the installation it would replace in the front
// end: every backend starts from the package, or is handed it, here.
bool InstallerRunner::AcceptsPackage(const Settings& settings) {
  const std::optional<PackageAcceptance::Refusal> refusal =
      PackageAcceptance::Judge(package_version_, settings.operation(),
                               settings.GetStatus());
  if (!refusal)
    return true;
  LOG(ERROR) << refusal->diagnostic;
  const RunError error = {refusal->message_id, refusal->detail,
                          refusal->diagnostic, 0};
  for (InstallerObserver& observer : observers_)
    observer.OnError(error);
  return false;
}

// The elevated backend would refuse it too, after the user agreed to the
// elevation: the user is told why before anything is asked.
bool InstallerRunner::AcceptAllUsersFolder(const base::FilePath& folder) {
  const AllUsersFolderCheck::Verdict verdict =
      AllUsersFolderCheck::Judge(folder);
  if (!AllUsersFolderCheck::Refuses(verdict))
    return true;
  const std::string diagnostic =
      std::string("The folder for all users is refused: ") +
      AllUsersFolderCheck::Describe(verdict);
  const RunError error = {AllUsersFolderCheck::MessageId(verdict),
                          folder.value(), diagnostic, 0};
  for (InstallerObserver& observer : observers_)
    observer.OnError(error);
  LOG(ERROR) << diagnostic;
  return false;
}

base::CommandLine InstallerRunner::MakeBackendCommandLine(
    const Settings& settings) {
  base::CommandLine command_line(base::CommandLine::NO_PROGRAM);
  settings.ToCommandLine(&command_line, false);
  command_line.AppendSwitchPath(switches::kServerTrackingData,
                                base::FilePath(kServerTrackingDataName));
  command_line.AppendSwitchNative(switches::kInitialPid,
                                  base::UintToString16(GetCurrentProcessId()));
  if (const uint32_t crash_reporter_pid = CrashReporterPidForChild()) {
    command_line.AppendSwitchASCII(
        switches::kCrashReporterPid,
        base::FormatString("%u", crash_reporter_pid));
  }
  return command_line;
}

void InstallerRunner::AppendPackageSwitches(base::CommandLine* command_line) {
  if (!component_path_.empty()) {
    command_line->AppendSwitchNative(
        switches::kComponents,
        kComponentSuitePrefix + component_path_.BaseName().value());
  }
  if (package_is_temporary_)
    command_line->AppendSwitch(switches::kTemporaryPackage);
}

bool InstallerRunner::WatchBackend() {
  backend_running_ = true;
  AllowSetForegroundWindow(backend_.Pid());
  VLOG(1) << "Installer backend started.";
  if (!backend_watcher_.StartWatching(backend_.Handle(), this)) {
    ReportError(kStringInstallerError,
                "Could not monitor the installer process handle");
    Stop();
    return false;
  }
  return true;
}

void InstallerRunner::OnPackageReady(const std::string& package_version) {
  if (have_package_)
    return;
  VLOG(1) << "Recording that we have the package, version "
          << package_version;
  have_package_ = true;
  package_version_ = package_version;
  // A stopped run's backend, still ending, is handed nothing.
  if (!backend_running_ || !settings_)
    return;
  if (!AcceptsPackage(*settings_)) {
    // The backend waits for a package that never comes: it ends now.
    Stop();
    return;
  }
  LOG(INFO) << "Informing the installer backend that the package is ready";
  package_handed_over_ = true;
  SetEvent(package_ready_event_.Get());
}

void InstallerRunner::Stop() {
  LOG(INFO) << "Stopping installer backend (if running)";
  if (backend_running_) {
    SetEvent(interrupted_event_.Get());
    VLOG(1) << "Sending installation interrupted event";
  }
  if (mutex_) {
    VLOG(1) << "Letting go of the installer mutex";
    // While the backend may still work in the folder, this thread keeps the
    // mutex; it is abandoned when the thread ends.
    if (backend_running_)
      mutex_->CloseWithoutRelease();
    mutex_.reset();
  }
  interrupted_event_.Close();
  package_ready_event_.Close();
  receiver_.Close();
  settings_ = nullptr;
}

void InstallerRunner::OnObjectSignaled(HANDLE object) {
  VLOG(1) << "Installer backend process signaled";
  DWORD exit_code = 0;
  const bool exit_code_read = GetExitCodeProcess(backend_.Handle(), &exit_code);
  if (!exit_code_read)
    PLOG(ERROR) << "GetExitCodeProcess failed";
  backend_running_ = false;
  // The backend's last reports may still wait in the mailslot: they come
  // first, and the verdict needs them.
  receiver_.Flush(base::Bind(&InstallerRunner::FinishRun, this, exit_code_read,
                             exit_code));
}

void InstallerRunner::OnMessageReceived(const InstallerMessage& message) {
  if (BelievesReport(message))
    ReplayInstallerMessage(message, observers_);
}

// A backend reports its success only once it installed the package; the
// run's verdict needs that report and then the exit code 0 of the process
// this runner started. The mailslot takes anyone's datagrams, and a success
// report before the hand-over would end a run whose backend still waits.
bool InstallerRunner::BelievesReport(const InstallerMessage& message) const {
  if (package_handed_over_ || !IsSuccessMessage(message))
    return true;
  LOG(WARNING) << "Dropping a success report that came before the package "
                  "was handed over";
  return false;
}

bool InstallerRunner::AcquireMutex(const std::wstring& name) {
  VLOG(1) << "Installer mutex name: " << base::WideToUtf8(name);
  // Inherited by the backend, which the run starts while holding it.
  mutex_.emplace(name,
                 base::win::ScopedNamedMutex::Options{.inheritable = true});
  if (!mutex_->IsValid()) {
    mutex_.reset();
    ReportError(kStringAnotherInstaller, "Could not create installer mutex");
    return false;
  }
  if (mutex_->Acquire(0))
    return true;
  mutex_.reset();
  ReportError(kStringAnotherInstaller, "Could not acquire installer mutex");
  return false;
}

bool InstallerRunner::ConnectReceiver(const std::wstring& channel) {
  VLOG(1) << "Installer mailslot name: " << base::WideToUtf8(channel);
  switch (receiver_.Connect(channel)) {
    case IpcReceiver::ConnectResult::kConnected:
      return true;
    case IpcReceiver::ConnectResult::kMailslotExists:
      ReportHeldObject(GetMailslotPath(channel),
                       "Installer mailslot made by another process");
      return false;
    case IpcReceiver::ConnectResult::kThreadFailed:
    case IpcReceiver::ConnectResult::kMailslotFailed:
      break;
  }
  ReportError(kStringInstallerError, "Could not connect to mailslot");
  return false;
}

// The backend stops, or goes on, on these events: one that another process
// made first is that process's to signal, whatever state it is in now.
base::win::ScopedHandle InstallerRunner::CreateOwnEvent(
    const std::wstring& name,
    const EventDiagnostics& diagnostics) {
  const HANDLE created = CreateEventW(nullptr, TRUE, FALSE, name.c_str());
  const DWORD error = GetLastError();
  base::win::ScopedHandle event(created);
  if (!event.IsValid()) {
    LOG(ERROR) << "CreateEventW failed: "
               << base::SystemErrorCodeToString(error);
    ReportError(kStringInstallerError, diagnostics.not_created);
    return event;
  }
  if (error == ERROR_ALREADY_EXISTS) {
    event.Close();
    ReportHeldObject(name, diagnostics.made_elsewhere);
  }
  return event;
}

bool InstallerRunner::BackendUnpacksPackage(const Settings& settings) const {
  return package_is_temporary_ && settings.GetFlag(ALL_USERS_FLAG);
}

bool InstallerRunner::BackendMayElevate(const Settings& settings) const {
  const Status* status = settings.GetStatus();
  return package_is_temporary_ &&
         NeedsElevation(settings.GetFlag(ALL_USERS_FLAG),
                        status && status->has_write_access);
}

bool InstallerRunner::ChooseBackendProgram(const InstallerObjectNames& names,
                                           base::CommandLine* command_line) {
  if (have_package_ && !BackendMayElevate(*settings_)) {
    LOG(INFO) << "Package is already available";
    command_line->SetProgram(package_folder_.Append(kPackageInstallerName));
    package_handed_over_ = true;
    return true;
  }
  VLOG(1) << "Event name for package_ready: "
          << base::WideToUtf8(names.package_ready_event());
  package_ready_event_ = CreateOwnEvent(
      names.package_ready_event(),
      {"Could not create package ready event",
       "Package ready event made by another process"});
  if (!package_ready_event_.IsValid())
    return false;
  if (have_package_)
    SetEvent(package_ready_event_.Get());
  // Until the package is there, this executable does what needs no package.
  base::FilePath own_executable;
  if (!base::GetPathForKey(base::kExeFile, &own_executable)) {
    ReportError(kStringInstallerError,
                "Could not launch installer backend process");
    return false;
  }
  command_line->SetProgram(own_executable);
  command_line->AppendSwitchPath(switches::kWaitForPackage, package_folder_);
  return true;
}

// A front end that may run elevated runs from a folder its user may write
// (Downloads, as a rule), where the user can rename the running program and
// put another under its name: it starts itself again as the backend only
// as the file shown to be its running build, held until it has started.
base::Process InstallerRunner::StartBackendProcess(
    base::CommandLine* command_line,
    const base::ProcessLaunchOptions& options) {
  if (package_handed_over_ || !MayRunElevated())
    return base::LaunchProcessForCommandLine(*command_line, options);
  SignedProgramLauncher own_program;
  if (!own_program.HoldRunningProgram()) {
    LOG(ERROR) << "Not starting the backend: "
               << command_line->GetProgram().AsUTF8()
               << " is no longer the program that runs";
    return base::Process();
  }
  command_line->SetProgram(own_program.program());
  TestHooks::OnRolePoint(TestHooks::RolePoint::kBackendStart);
  base::Process process = own_program.Launch(*command_line, options);
  if (!process.IsValid() && own_program.refusal() != SignatureRefusal::kNone) {
    LOG(ERROR) << "Not starting the backend: the path of "
               << command_line->GetProgram().AsUTF8()
               << " led to another image than the one that runs";
  }
  return process;
}

bool InstallerRunner::LaunchBackend(base::CommandLine* command_line) {
  HANDLE own_process = nullptr;
  {
    // No other launch may inherit the handle to this process.
    base::AutoLock launch_lock(base::GetProcessLaunchLock());
    if (!DuplicateHandle(GetCurrentProcess(), GetCurrentProcess(),
                         GetCurrentProcess(), &own_process, SYNCHRONIZE, TRUE,
                         0)) {
      PLOG(ERROR) << "DuplicateHandle failed";
      own_process = nullptr;
    } else {
      const base::win::ScopedHandle inherited_handle(own_process);
      const uint64_t handle_value = reinterpret_cast<uintptr_t>(own_process);
      command_line->AppendSwitchASCII(
          switches::kInitialProcHandle,
          base::HexEncode(&handle_value, sizeof(handle_value)));
      LOG(INFO) << "launching installer backend: "
                << base::WideToUtf8(command_line->GetCommandLineString());
      base::ProcessLaunchOptions options;
      options.inherit_handles = true;
      backend_ = StartBackendProcess(command_line, options);
      if (!backend_.IsValid())
        PLOG(ERROR) << "LaunchProcess failed";
    }
  }
  // Held since this process began, for the backend's start to find it
  // proven; the backend may set files aside once it runs.
  SignedProgramLauncher::LetRunningProgramGo();
  if (!own_process) {
    ReportError(kStringInstallerError,
                "Could not duplicate own process handle");
    return false;
  }
  if (!backend_.IsValid()) {
    ReportError(kStringInstallerError,
                "Could not launch installer backend process");
    return false;
  }
  return true;
}

// The one reason for a refused folder that the user cannot see in the
// folder itself is its length: it is named, with the limit.
void InstallerRunner::ReportInvalidFolder(const Settings& settings) {
  const Status* status = settings.GetStatus();
  const size_t length = status ? status->install_folder.value().size() : 0;
  if (length <= kMaxInstallPathLength) {
    ReportError(kStringInvalidLocation,
                "Attempting to start installation with invalid settings");
    return;
  }
  const std::string diagnostic =
      "The installation folder's path has " + std::to_string(length) +
      " characters, more than the " + std::to_string(kMaxInstallPathLength) +
      " allowed";
  for (InstallerObserver& observer : observers_) {
    observer.OnError({kStringFolderPathTooLong,
                      std::to_wstring(kMaxInstallPathLength), diagnostic, 0});
  }
  LOG(ERROR) << diagnostic;
}

// A run that died left the folder half changed, and a file of it that
// another program holds kept the recovery from undoing it all: this run
// must not build on that. The user is told which file to free; the next
// run finishes the recovery. A sharing violation, or the refusal Windows
// gives for a running program's file, is what "holds" says already;
// another error is named after it.
void InstallerRunner::ReportUnfinishedRecovery(const std::wstring& unfinished,
                                               uint32_t system_error) {
  const uint32_t cause = IsFileInUseError(system_error) ||
                                 system_error == ERROR_ACCESS_DENIED
                             ? 0
                             : system_error;
  const std::string diagnostic =
      "A run that died left work in the folder that could not be undone at " +
      base::WideToUtf8(unfinished) + ": " +
      base::SystemErrorCodeToString(system_error);
  const RunError error = {kStringRecoveryHeldFile, unfinished, diagnostic,
                          cause};
  for (InstallerObserver& observer : observers_)
    observer.OnError(error);
  LOG(ERROR) << diagnostic;
}

void InstallerRunner::ReportError(int code, const char* diagnostic) {
  for (InstallerObserver& observer : observers_)
    observer.OnError({code, std::wstring(), diagnostic, 0});
  LOG(ERROR) << diagnostic;
}

// The user is told which object is held: the name tells the folder, and
// support can find the program that holds it.
void InstallerRunner::ReportHeldObject(const std::wstring& name,
                                       const char* diagnostic) {
  for (InstallerObserver& observer : observers_)
    observer.OnError({kStringInstallerObjectHeld, name, diagnostic, 0});
  LOG(ERROR) << diagnostic << ": " << base::WideToUtf8(name);
}

void InstallerRunner::FinishRun(bool exit_code_read, DWORD exit_code) {
  const bool success = reports_.RunSucceeded(exit_code_read, exit_code);
  LOG(INFO) << "Installer backend exit code " << exit_code
            << (exit_code_read ? "" : " (unreadable)") << ", success reported "
            << reports_.success_reported();
  // A backend that failed on its own said why; one that ended without a
  // word (killed, or returned early) would otherwise fail unexplained.
  if (!success && !reports_.error_reported() && exit_code_read &&
      exit_code == 0) {
    ReportError(kStringInstallerError,
                reports_.handover_unconfirmed()
                    ? "Package installer ended without reporting success"
                    : "Installer backend ended without reporting success");
  }
  ReportTermination(success);
}

void InstallerRunner::ReportTermination(bool success) {
  for (InstallerObserver& observer : observers_)
    observer.OnInstallerTerminated(success);
}

}  // namespace installer
