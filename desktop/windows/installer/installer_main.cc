#include "desktop/windows/installer/installer_main.h"

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <cstdio>
#include <iterator>
#include <memory>
#include <string>
#include <utility>

#include "base/command_line.h"
#include "base/exit_callback_stack.h"
#include "base/features/command_line_feature_reader.h"
#include "base/features/feature_list.h"
#include "base/features/feature_tables.h"
#include "base/features/list_feature_reader.h"
#include "base/files/file.h"
#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/json/json_reader.h"
#include "base/logging.h"
#include "base/message_loop/message_loop.h"
#include "base/path_service.h"
#include "base/process/launch.h"
#include "base/process/process.h"
#include "base/process/process_info.h"
#include "base/strings/log_escape.h"
#include "base/strings/string_format.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/utf_string_conversions.h"
#include "base/threading/prefs_task_pool.h"
#include "base/time/time.h"
#include "base/values.h"
#include "base/win/scoped_handle.h"
#include "base/win/scoped_com_initializer.h"
#include "base/win/windows_version.h"
#include "components/prefs/json_pref_store.h"
#include "desktop/windows/crash_reporter/crash_reporting.h"
#include "desktop/windows/installer/branding.h"
#include "desktop/windows/installer/console_output.h"
#include "desktop/windows/installer/cleanup_batch.h"
#include "desktop/windows/installer/entry_switches.h"
#include "desktop/windows/installer/executable_directory.h"
#include "desktop/windows/installer/help_printer.h"
#include "desktop/windows/installer/installer_names.h"
#include "desktop/windows/installer/installer_object_names.h"
#include "desktop/windows/installer/installer_result.h"
#include "desktop/windows/installer/installer_runner_backend.h"
#include "desktop/windows/installer/installer_ui_controller/installer_ui_controller.h"
#include "desktop/windows/installer/installer_version.h"
#include "desktop/windows/installer/interrupted_run_recovery.h"
#include "desktop/windows/installer/package_fetcher/payload_reader.h"
#include "desktop/windows/installer/service/product_environment.h"
#include "desktop/windows/installer/service/utils.h"
#include "desktop/windows/installer/settings.h"
#include "desktop/windows/installer/settings_switches.h"
#include "desktop/windows/installer/signature_verifier.h"
#include "desktop/windows/installer/silent_installer_controller/silent_installer_controller.h"
#include "desktop/windows/installer/testing/test_hooks.h"
#include "desktop/windows/installer/ui/corrupted_installer_box.h"

namespace installer {

namespace {

// A command line carries several paths and switches that a reader of the
// log needs whole; it is still bounded like any data from outside.
constexpr size_t kCommandLineLogLimit = 2048;

constexpr wchar_t kUninstallBatchName[] = L"k.bat";
constexpr wchar_t kFilesListName[] = L"files_list";
constexpr wchar_t kPackageInstallerName[] = L"installer.exe";
constexpr wchar_t kInstallerPrefsName[] = L"installer_prefs.json";
constexpr char kInstallerExperimentsPref[] = "installer-experiments";

constexpr char kTestExperimentFeature[] = "installer-experiment-test";
constexpr char kX64DownloadFeature[] = "installer-support-x64-download";
constexpr char kWendLibraryFeature[] = "wend-library";

// Tracking-data keys, as '.'-paths.
constexpr char kDefaultBrowserKey[] = "utm.defbr";
constexpr char kEnableStatsKey[] = "utm.fsce";
constexpr char kNiuidKey[] = "uuid";

// The print roles, in the order they are tested: only the first present
// one prints.
struct PrintRole {
  const char* switch_name;
  std::string (*value)();
};
constexpr PrintRole kPrintRoles[] = {
    {switches::kVersion, [] { return GetVersionString(); }},
    {switches::kInternalVersion, [] { return GetInternalVersion(); }},
    {switches::kStream, [] { return GetStreamName(); }},
};

const char* BoolText(bool value) {
  return value ? "true" : "false";
}

// Without a line end: other installers read the value as the whole output.
bool PrintRequestedValue(const base::CommandLine& command_line) {
  for (const PrintRole& role : kPrintRoles) {
    if (command_line.HasSwitch(role.switch_name)) {
      PrintToConsole("%s", role.value().c_str());
      std::fflush(stdout);
      return true;
    }
  }
  return false;
}

void RunCrashReporterRole(const base::CommandLine& command_line) {
  InstallCrashReporterExceptionFilter();
  if (command_line.HasSwitch(switches::kCrashReporterExceptionInfo))
    HandleCrashReporterCrash();
  else
    CrashReporterMain();
}

void StartCrashReporting() {
  DisableUserModeExceptionFilterBit();
  if (StartCrashReporter())
    ConnectCrashHandler();
  SetInstallerCrashKeys();
}

void InitInstallerLogging(const base::CommandLine& command_line) {
  const base::FilePath log_path = GetLogFilePath();
  base::LoggingSettings settings;
  settings.logging_destination = base::LOG_TO_FILE;
  settings.log_file_path = log_path.value().c_str();
  // The name holds the process id: a file of that name is the log of an
  // earlier process whose id was given out again within the same second,
  // and deleting it would lose that log.
  settings.old_file_mode = base::APPEND_TO_OLD_LOG_FILE;
  base::InitLogging(settings);
  LOG(INFO) << FormatWithProductName("%s installer starting - version ", false)
            << GetVersionString() << " " << GetStreamName();
  LOG(INFO) << "Command line: "
            << base::EscapeForLog(
                   base::WideToUtf8(command_line.GetCommandLineString()),
                   kCommandLineLogLimit);
}

// A front end with a window asks the user to download the product again; a
// silent one or a backend only says so in its log.
uint8_t ReportCorruptedPayload(bool can_ask_user) {
  if (base::IsFeatureEnabled(kWendLibraryFeature) || !can_ask_user) {
    LOG(ERROR) << "Corrupted payload";
    return kInstallerFailed;
  }
  AskToDownloadAgain();
  return kInstallerFailed;
}

// The process of an installer front end or backend: the values of the run
// and the steps from logging to the role's end. Main thread only.
class InstallerProcess {
 public:
  InstallerProcess(const base::CommandLine& command_line,
                   const base::FilePath& environment_install_dir);
  InstallerProcess(const InstallerProcess&) = delete;
  InstallerProcess& operator=(const InstallerProcess&) = delete;
  // Destroys the settings, the payload reader and the message loop, in
  // this order.
  ~InstallerProcess();

  uint8_t Run();

 private:
  void ReadRoleFlags();
  bool FindOwnPaths();
  bool DecideInsidePackage();
  void ChooseInstallFolder();
  void LogFlags() const;
  void CreateMessageLoop();
  void ApplyExperiments();
  void ApplyExperimentsFromInstallation();
  // False when the payload is corrupted.
  bool ReadPayload();
  void CreateSettings();
  uint8_t RunBackend();
  bool PrepareDownloadFolder();
  void ApplyTrackingKeys();
  uint8_t RunFrontEnd();

  const base::CommandLine& command_line_;
  const base::FilePath environment_install_dir_;
  bool backend_ = false;
  bool uninstall_ = false;
  bool silent_ = false;
  bool run_immediately_ = false;
  bool autoupdate_ = false;
  bool replace_old_installation_ = false;
  bool inside_package_ = false;
  bool x64_candidate_ = false;
  base::FilePath own_folder_;
  base::FilePath own_file_;
  base::FilePath install_folder_;
  base::FilePath download_folder_;
  std::unique_ptr<base::MessageLoop> message_loop_;
  std::unique_ptr<PayloadReader> payload_reader_;
  std::unique_ptr<Settings> settings_;
};

InstallerProcess::InstallerProcess(
    const base::CommandLine& command_line,
    const base::FilePath& environment_install_dir)
    : command_line_(command_line),
      environment_install_dir_(environment_install_dir) {}

InstallerProcess::~InstallerProcess() {
  settings_.reset();
  payload_reader_.reset();
  message_loop_.reset();
}

uint8_t InstallerProcess::Run() {
  InitInstallerLogging(command_line_);
  ReadRoleFlags();
  if (!FindOwnPaths() || !DecideInsidePackage())
    return kInstallerFailed;
  ChooseInstallFolder();
  LogFlags();
  CreateMessageLoop();
  ApplyExperiments();
  if (!ReadPayload())
    return ReportCorruptedPayload(!backend_ && !silent_);
  CreateSettings();
  if (backend_ ||
      command_line_.HasSwitch(switches::kRegisterProtocolHandler)) {
    return RunBackend();
  }
  if (!PrepareDownloadFolder())
    return kInstallerFailed;
  ApplyTrackingKeys();
  return RunFrontEnd();
}

void InstallerProcess::ReadRoleFlags() {
  backend_ = command_line_.HasSwitch(switches::kBackend);
  uninstall_ = command_line_.HasSwitch(switches::kUninstall);
  silent_ = command_line_.HasSwitch(switches::kSilent);
  run_immediately_ = command_line_.HasSwitch(switches::kRunImmediately);
  autoupdate_ = command_line_.HasSwitch(switches::kAutoupdate);
  replace_old_installation_ =
      command_line_.HasSwitch(switches::kReplaceKilnorInstallation);
}

bool InstallerProcess::FindOwnPaths() {
  if (!base::GetPathForKey(base::kExeDir, &own_folder_)) {
    LOG(ERROR) << "Cannot find own dir";
    return false;
  }
  if (!base::GetPathForKey(base::kExeFile, &own_file_)) {
    LOG(ERROR) << "Cannot find own file path";
    return false;
  }
  return true;
}

bool InstallerProcess::DecideInsidePackage() {
  const bool has_product_executable = base::PathExists(
      own_folder_.AppendASCII(GetProductExecutableName()));
  if (uninstall_) {
    if (!has_product_executable) {
      LOG(ERROR) << "Requested to uninstall, but we are not in a valid "
                    "installation folder";
      return false;
    }
    inside_package_ = true;
    return true;
  }
  // The package's own installer, not a copy renamed by the user or browser.
  inside_package_ = has_product_executable &&
                    base::PathExists(own_folder_.Append(kFilesListName)) &&
                    own_file_.BaseName().value() == kPackageInstallerName;
  return true;
}

void InstallerProcess::ChooseInstallFolder() {
  if (!command_line_.HasSwitch(switches::kInstallFolder))
    return;
  install_folder_ = command_line_.GetSwitchValuePath(switches::kInstallFolder);
  LOG(INFO) << "Install folder from command line: "
            << install_folder_.value().c_str();
  if (!install_folder_.empty() || !autoupdate_)
    return;
  LOG(INFO) << "It looks like we are autoupdating from T12.";
  install_folder_ = RecoverInstallFolderFromCommandLine(command_line_);
  LOG(INFO) << "Recovered install folder from command line: "
            << install_folder_.value().c_str();
  if (silent_ && !install_folder_.empty()) {
    LOG(INFO) << "Configuring for T12 autoupdate.";
    silent_ = false;
    run_immediately_ = true;
  }
}

void InstallerProcess::LogFlags() const {
  LOG(INFO) << "Uninstall: " << BoolText(uninstall_);
  LOG(INFO) << "Replace Kilnor installation: "
            << BoolText(replace_old_installation_);
  LOG(INFO) << "Silent: " << BoolText(silent_);
  LOG(INFO) << "Run Immediately " << BoolText(run_immediately_);
  LOG(INFO) << "Backend " << BoolText(backend_);
  LOG(INFO) << "Inside package " << BoolText(inside_package_);
  LOG(INFO) << "Autoupdate: " << BoolText(autoupdate_);
}

void InstallerProcess::CreateMessageLoop() {
  CHECK(!base::MessageLoop::current());
  if (backend_ || silent_) {
    VLOG(1) << "Using default message loop";
    message_loop_ =
        std::make_unique<base::MessageLoop>(base::MessageLoop::Type::kDefault);
  } else {
    VLOG(1) << "Using UI message loop";
    message_loop_ =
        std::make_unique<base::MessageLoop>(base::MessageLoop::Type::kUI);
  }
  // Preferences stores still writing at exit must finish before the pool
  // goes away.
  base::GetPrefsTaskPool()->set_wait_for_last_reference(true);
}

void InstallerProcess::ApplyExperiments() {
  if (uninstall_) {
    ApplyExperimentsFromInstallation();
  } else {
    base::FeatureList::GetInstance()->ApplyReader(
        base::CommandLineFeatureReader(command_line_));
    VLOG(1) << "Obtained experiment states from command line";
  }
  if (base::IsFeatureEnabled(kTestExperimentFeature))
    LOG(INFO) << "Test experiment is enabled";
}

void InstallerProcess::ApplyExperimentsFromInstallation() {
  VLOG(1) << "Retrieving experiment states from installation folder...";
  base::RefPtr<base::JsonPrefStore> prefs = base::CreateFilePrefStore(
      base::GetPrefsTaskPool(),
      environment_install_dir_.Append(kInstallerPrefsName));
  const base::Value* value = nullptr;
  const base::ListValue* experiments = nullptr;
  if (!prefs->GetValue(kInstallerExperimentsPref, &value) ||
      !value->GetAsList(&experiments)) {
    return;
  }
  base::FeatureList::GetInstance()->ApplyReader(
      base::ListFeatureReader(*experiments));
  VLOG(1) << "Retrieved experiment states from installation folder";
}

bool InstallerProcess::ReadPayload() {
  if (inside_package_) {
    x64_candidate_ = true;
    return true;
  }
  x64_candidate_ = base::win::GetWindowsVersionInfo().architecture() ==
                   base::win::WindowsVersionInfo::kArchitectureX64;
  payload_reader_ = std::make_unique<PayloadReader>(own_file_);
  switch (payload_reader_->type()) {
    case PayloadReader::kNone:
      LOG(WARNING) << "Failed reading payload";
      if (command_line_.HasSwitch(switches::kServerTrackingBlob)) {
        LOG(INFO) << "Using tracking data from command line";
        payload_reader_->SetExternalTrackingData(
            command_line_.GetSwitchValueASCII(switches::kServerTrackingBlob));
      }
      return true;
    case PayloadReader::kTrackingData:
      LOG(INFO) << "Tracking data: "
                << base::EscapeForLog(payload_reader_->GetPayloadData());
      return true;
    case PayloadReader::kExternalTrackingData:
      LOG(ERROR) << "External should only ever be reported after calling"
                 << "SetPayload";
      return true;
    case PayloadReader::kFullPackage:
      LOG(INFO) << "Found full package";
      x64_candidate_ = true;
      return true;
    case PayloadReader::kCorrupted:
      return false;
  }
  return true;
}

void InstallerProcess::CreateSettings() {
  const bool x64 =
      base::IsFeatureEnabled(kX64DownloadFeature) && x64_candidate_;
  VLOG(1) << "Installer architecture: " << (x64 ? "X64" : "X86");
  VLOG(2) << "Instantiating settings";
  settings_ = std::make_unique<Settings>(
      uninstall_, silent_, autoupdate_, install_folder_,
      replace_old_installation_,
      x64 ? Settings::kArchitectureX64 : Settings::kArchitectureX86);
}

uint8_t InstallerProcess::RunBackend() {
  VLOG(2) << "Running backend";
  TestHooks::OnRolePoint(TestHooks::RolePoint::kBackend);
  InstallerRunnerBackend backend;
  return InstallerResultFromSuccess(backend.RunBackend(settings_.get()));
}

bool InstallerProcess::PrepareDownloadFolder() {
  if (command_line_.HasSwitch(switches::kTempFolder)) {
    VLOG(1) << "Using download folder from command line";
    download_folder_ = command_line_.GetSwitchValuePath(switches::kTempFolder)
                           .Append(GetInstallerFolderName());
    if (!base::CreateDirectory(download_folder_)) {
      LOG(ERROR) << "Could not create temporary installer folder";
      return false;
    }
  } else if (!FindExecutableDirectory(GetInstallerFolderName(), own_file_,
                                      &download_folder_)) {
    LOG(ERROR) << "Could not obtain temporary installer folder";
    return false;
  }
  LOG(INFO) << "Installer download folder: "
            << download_folder_.value().c_str();
  // Runs that died never removed their downloads and packages; nothing
  // else ever would.
  InterruptedRunRecovery::RemoveStaleDownloads(download_folder_);
  return true;
}

void InstallerProcess::ApplyTrackingKeys() {
  if (!payload_reader_ || settings_->GetFlag(COPY_ONLY))
    return;
  const PayloadReader::PayloadType type = payload_reader_->type();
  if (type != PayloadReader::kTrackingData &&
      type != PayloadReader::kExternalTrackingData) {
    return;
  }
  base::DictionaryValueOwner tracking =
      base::ParseJsonText(payload_reader_->GetPayloadData());
  if (!tracking)
    return;
  std::string default_browser;
  std::string enable_stats;
  if (tracking->GetAsciiString(kDefaultBrowserKey, &default_browser) &&
      tracking->GetAsciiString(kEnableStatsKey, &enable_stats)) {
    run_immediately_ = true;
    LOG(INFO) << "defbr:" << base::EscapeForLog(default_browser);
    settings_->SetDefaultBrowser(default_browser == "true");
    LOG(INFO) << "fsce:" << base::EscapeForLog(enable_stats);
    settings_->SetEnableStats(enable_stats == "true");
  }
  std::string niuid;
  if (tracking->GetAsciiString(kNiuidKey, &niuid)) {
    settings_->SetNiuid(niuid);
    LOG(INFO) << "niuid:" << base::EscapeForLog(niuid);
  }
}

uint8_t InstallerProcess::RunFrontEnd() {
  uint8_t result = kInstallerFailed;
  if (silent_) {
    TestHooks::OnRolePoint(TestHooks::RolePoint::kSilentFrontEnd);
    VLOG(2) << "Running silent controller";
    SilentInstallerController controller;
    result = InstallerResultFromSuccess(controller.Run(
        settings_.get(), payload_reader_.get(), download_folder_));
  } else {
    VLOG(2) << "Running UI controller";
    InstallerUIController controller;
    result = InstallerResultFromSuccess(
        controller.RunUI(settings_.get(), payload_reader_.get(),
                         download_folder_, run_immediately_));
  }
  // Removes only an empty folder.
  ::RemoveDirectoryW(download_folder_.value().c_str());
  return result;
}

// An uninstallation that died set the product's files aside: the folder
// must be whole again before anything tells from them whether it holds an
// installation, the product environment first.
void RecoverUninstallerFolder(const base::CommandLine& command_line) {
  base::FilePath own_folder;
  if (!command_line.HasSwitch(switches::kUninstall) ||
      command_line.HasSwitch(switches::kBackend) ||
      !base::GetPathForKey(base::kExeDir, &own_folder)) {
    return;
  }
  // Into the installer's log from here on: the default log file would be
  // written into the folder being recovered.
  InitInstallerLogging(command_line);
  InterruptedRunRecovery::RecoverFolder(own_folder.DirName());
}

uint8_t RunRole(const base::CommandLine& command_line) {
  if (command_line.HasSwitch(switches::kCrashReporterParentId)) {
    RunCrashReporterRole(command_line);
    return kInstallerSucceeded;
  }
  StartCrashReporting();
  base::RegisterInstallerFeatures(GetUserAgentName(),
                                  base::FeatureList::GetInstance());
  RecoverUninstallerFolder(command_line);
  const base::FilePath environment_install_dir =
      GetProductEnvironment()->install_dir();

  if (command_line.HasSwitch(switches::kHelp) ||
      command_line.HasSwitch(switches::kHelpShort)) {
    PrintHelp();
    return kInstallerSucceeded;
  }
  if (command_line.HasSwitch(switches::kSetFolderPermission)) {
    SetFolderPermission();
    if (command_line.HasSwitch(switches::kRunUninstallBat))
      RunUninstallBatch(environment_install_dir);
    return kInstallerSucceeded;
  }
  return InstallerProcess(command_line, environment_install_dir).Run();
}

}  // namespace

uint8_t RunInstaller() {
  base::CommandLine::Init();
  const base::CommandLine& command_line =
      *base::CommandLine::ForCurrentProcess();
  if (PrintRequestedValue(command_line))
    return kInstallerSucceeded;
  // Exit callbacks run last, after COM is gone and every object of the
  // role is destroyed.
  base::ExitCallbackStack exit_callbacks;
  base::win::ScopedCOMInitializer com;
  return RunRole(command_line);
}

base::FilePath GetLogFilePath() {
  base::Time::Exploded now;
  base::Time::Now().Explode(true, &now);
  const std::wstring name =
      base::Utf8ToWide(FormatWithProductName("%s_installer", true)) +
      base::FormatWideString(L"_%04d%02d%02d%02d%02d%02d_%lu.log", now.year,
                             now.month, now.day_of_month, now.hour,
                             now.minute, now.second,
                             ::GetCurrentProcessId());
  base::FilePath folder;
  if (!TryPathKeyDirectory(GetInstallerFolderName(), base::FilePath(), &folder,
                           base::kTempDir)) {
    return base::FilePath(name);
  }
  return folder.Append(name);
}

base::FilePath RecoverInstallFolderFromCommandLine(
    const base::CommandLine& command_line) {
  const base::FilePath last_token(command_line.argv().back());
  return last_token.IsAbsolute() ? last_token : base::FilePath();
}

void RunUninstallBatch(const base::FilePath& folder) {
  const base::FilePath batch = folder.Append(kUninstallBatchName);
  // This process is elevated and the batch file was written by one that is
  // not, in a folder that was writable to it.
  if (!base::PathExists(batch) || !CleanupBatch::TakeOver(batch, folder))
    return;
  StartCleanupBatch(batch, true);
}

namespace {

// How long the grant outlives the undo request.
constexpr DWORD kUndoDelayMs = 10000;

// What the package's installer is told of this process's role.
constexpr const char* kPackageInstallerSwitches[] = {
    switches::kCrashReporterPid,
    switches::kSetFolderPermission,
    switches::kPermissionsForUser,
    switches::kPermanentPermissions,
};

struct LocalMemoryFreer {
  void operator()(void* memory) const { ::LocalFree(memory); }
};
using ScopedLocalMemory = std::unique_ptr<void, LocalMemoryFreer>;

base::win::ScopedHandle OpenNamedEvent(const std::wstring& name, DWORD access) {
  return base::win::ScopedHandle(::OpenEventW(access, FALSE, name.c_str()));
}

bool StartedBeforeThisProcess(HANDLE process) {
  FILETIME created, own_created, unused1, unused2, unused3;
  return ::GetProcessTimes(process, &created, &unused1, &unused2, &unused3) &&
         ::GetProcessTimes(::GetCurrentProcess(), &own_created, &unused1,
                           &unused2, &unused3) &&
         ::CompareFileTime(&created, &own_created) <= 0;
}

// Only a process older than this one can have asked for it: an id whose
// process has ended may already name a newer one.
base::win::ScopedHandle OpenOlderProcess(DWORD process_id) {
  base::win::ScopedHandle process(::OpenProcess(
      SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process_id));
  if (!process.IsValid() || !StartedBeforeThisProcess(process.Get()))
    return base::win::ScopedHandle();
  return process;
}

// The process that asked for this role, whose end means that nobody will
// ever signal the undo event: the one that started this process, else the
// front end of "initial-pid". Invalid when neither is found.
base::win::ScopedHandle OpenRequestingProcess(
    const base::CommandLine& command_line) {
  const DWORD parent_id = base::GetParentProcessId(::GetCurrentProcess());
  if (parent_id != 0) {
    base::win::ScopedHandle parent = OpenOlderProcess(parent_id);
    if (parent.IsValid())
      return parent;
  }
  uint32_t initial_pid = 0;
  if (base::WideStringToUint(
          command_line.GetSwitchValueNative(switches::kInitialPid),
          &initial_pid) &&
      initial_pid != 0) {
    return OpenOlderProcess(initial_pid);
  }
  return base::win::ScopedHandle();
}

// True when `event` was signalled; false when `process` (which may be
// null) ended first or the wait failed.
bool WaitForEventOrProcessEnd(HANDLE event, HANDLE process) {
  const HANDLE handles[] = {event, process};
  const DWORD count = process ? 2 : 1;
  return ::WaitForMultipleObjects(count, handles, FALSE, INFINITE) ==
         WAIT_OBJECT_0;
}

DWORD SetFolderDacl(const base::FilePath& folder, PACL dacl) {
  std::wstring name = folder.value();
  return ::SetNamedSecurityInfoW(name.data(), SE_FILE_OBJECT,
                                 DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                 dacl, nullptr);
}

// Grants the user full access to the folder and, unless the grant is to
// stay, undoes it once the requester signals the undo event, or at once
// when the requester ends without doing so.
void GrantFolderPermission(const base::CommandLine& command_line,
                           const base::FilePath& folder) {
  const InstallerObjectNames names(folder);
  const base::win::ScopedHandle give_event =
      OpenNamedEvent(names.give_permission_event(), EVENT_ALL_ACCESS);
  if (!give_event.IsValid())
    return;
  const base::win::ScopedHandle undo_event =
      OpenNamedEvent(names.undo_permission_event(), EVENT_ALL_ACCESS);
  if (!undo_event.IsValid() || !base::CreateDirectory(folder))
    return;
  const base::win::ScopedHandle requester =
      OpenRequestingProcess(command_line);

  PACL old_dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (::GetNamedSecurityInfoW(folder.value().c_str(), SE_FILE_OBJECT,
                              DACL_SECURITY_INFORMATION, nullptr, nullptr,
                              &old_dacl, nullptr,
                              &descriptor) != ERROR_SUCCESS) {
    return;
  }
  const ScopedLocalMemory old_descriptor(descriptor);
  std::wstring user =
      command_line.GetSwitchValueNative(switches::kPermissionsForUser);
  EXPLICIT_ACCESSW grant = {};
  grant.grfAccessPermissions = GENERIC_ALL;
  grant.grfAccessMode = GRANT_ACCESS;
  grant.grfInheritance = SUB_CONTAINERS_AND_OBJECTS_INHERIT;
  // The installer names the user by SID: a bare logon name can resolve to
  // another account (a domain user and a local one of the same name).
  PSID sid = nullptr;
  const bool by_sid = ::ConvertStringSidToSidW(user.c_str(), &sid);
  const ScopedLocalMemory owned_sid(sid);
  if (by_sid)
    ::BuildTrusteeWithSidW(&grant.Trustee, sid);
  else
    ::BuildTrusteeWithNameW(&grant.Trustee, user.data());
  PACL new_dacl = nullptr;
  if (::SetEntriesInAclW(1, &grant, old_dacl, &new_dacl) != ERROR_SUCCESS)
    return;
  const ScopedLocalMemory owned_new_dacl(new_dacl);
  if (SetFolderDacl(folder, new_dacl) != ERROR_SUCCESS)
    return;

  if (command_line.HasSwitch(switches::kPermanentPermissions)) {
    ::SetEvent(give_event.Get());
    return;
  }
  if (::SetEvent(give_event.Get()) &&
      WaitForEventOrProcessEnd(undo_event.Get(), requester.Get())) {
    ::Sleep(kUndoDelayMs);
  }
  SetFolderDacl(folder, old_dacl);
}

// The package's installer runs elevated, so only the product's signed one
// may run, and it is held against writers from the check until it has
// started, so that it cannot be swapped in between. While it runs, this
// process ends with its own requester, which tells the package's installer
// that nobody is left to ask for the undo.
void RunPackageInstaller(const base::CommandLine& command_line,
                         const base::FilePath& installer) {
  base::File held(installer, base::File::kOpen | base::File::kRead |
                                 base::File::kExclusiveWrite);
  if (!held.IsValid() || !VerifyFileSignature(installer, nullptr))
    return;
  base::CommandLine package_command_line(installer);
  package_command_line.CopySelectedSwitches(
      command_line, kPackageInstallerSwitches,
      std::size(kPackageInstallerSwitches));
  const base::Process process = base::LaunchProcessForCommandLine(
      package_command_line, base::ProcessLaunchOptions());
  held.Close();
  if (!process.IsValid())
    return;
  const base::win::ScopedHandle requester =
      OpenRequestingProcess(command_line);
  WaitForEventOrProcessEnd(process.Handle(), requester.Get());
}

// Waits for the package while the front end of "initial-pid" lives, then
// hands the role to the package's installer.
void GrantFolderPermissionFromPackage(const base::CommandLine& command_line,
                                      const base::FilePath& folder) {
  if (!command_line.HasSwitch(switches::kInitialPid))
    return;
  const InstallerObjectNames names(folder);
  const base::win::ScopedHandle package_ready =
      OpenNamedEvent(names.package_ready_event(), SYNCHRONIZE);
  const base::win::ScopedHandle interrupted =
      OpenNamedEvent(names.installation_interrupted_event(), SYNCHRONIZE);
  if (!package_ready.IsValid() || !interrupted.IsValid())
    return;
  uint32_t initial_pid = 0;
  if (!base::WideStringToUint(
          command_line.GetSwitchValueNative(switches::kInitialPid),
          &initial_pid)) {
    return;
  }
  const base::win::ScopedHandle front_end(
      ::OpenProcess(SYNCHRONIZE, FALSE, initial_pid));
  const HANDLE handles[] = {package_ready.Get(), interrupted.Get(),
                            front_end.Get()};
  if (::WaitForMultipleObjects(std::size(handles), handles, FALSE, INFINITE) !=
      WAIT_OBJECT_0) {
    return;
  }
  RunPackageInstaller(
      command_line, command_line.GetSwitchValuePath(switches::kWaitForPackage)
                        .Append(kPackageInstallerName));
}

}  // namespace

void SetFolderPermission() {
  const base::CommandLine& command_line = GetProcessCommandLine();
  if (!command_line.HasSwitch(switches::kPermissionsForUser))
    return;
  const base::FilePath folder =
      command_line.GetSwitchValuePath(switches::kSetFolderPermission);
  if (command_line.HasSwitch(switches::kWaitForPackage))
    GrantFolderPermissionFromPackage(command_line, folder);
  else
    GrantFolderPermission(command_line, folder);
}

}  // namespace installer
