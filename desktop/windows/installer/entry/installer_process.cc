#include "desktop/windows/installer/entry/installer_process.h"

#include <windows.h>

#include <string>

#include "base/command_line.h"
#include "base/features/command_line_feature_reader.h"
#include "base/features/feature_list.h"
#include "base/features/list_feature_reader.h"
#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/json/json_reader.h"
#include "base/logging.h"
#include "base/message_loop/message_loop.h"
#include "base/path_service.h"
#include "base/strings/log_escape.h"
#include "base/strings/utf_string_conversions.h"
#include "base/threading/prefs_task_pool.h"
#include "base/values.h"
#include "base/win/windows_version.h"
#include "components/prefs/json_pref_store.h"
#include "desktop/windows/crash_reporter/crash_reporting.h"
#include "desktop/windows/installer/backend/installer_runner_backend.h"
#include "desktop/windows/installer/entry/entry_switches.h"
#include "desktop/windows/installer/entry/executable_directory.h"
#include "desktop/windows/installer/entry/installer_log.h"
#include "desktop/windows/installer/entry/installer_result.h"
#include "desktop/windows/installer/frontend/installer_ui_controller.h"
#include "desktop/windows/installer/frontend/silent_installer_controller.h"
#include "desktop/windows/installer/package_fetcher/package_fetcher.h"
#include "desktop/windows/installer/package_fetcher/payload_reader.h"
#include "desktop/windows/installer/product/installer_names.h"
#include "desktop/windows/installer/product/package_file_names.h"
#include "desktop/windows/installer/recovery/dead_run_downloads.h"
#include "desktop/windows/installer/recovery/dead_run_private_folders.h"
#include "desktop/windows/installer/settings/may_run_elevated.h"
#include "desktop/windows/installer/settings/settings.h"
#include "desktop/windows/installer/settings/settings_switches.h"
#include "desktop/windows/installer/system/private_temp_folder.h"
#include "desktop/windows/installer/system/process_elevation.h"
#include "desktop/windows/installer/system/utils.h"
#include "desktop/windows/installer/testing/test_hooks.h"
#include "desktop/windows/installer/ui/corrupted_installer_box.h"

namespace installer {

namespace {

constexpr char kInstallerExperimentsPref[] = "installer-experiments";

constexpr char kTestExperimentFeature[] = "installer-experiment-test";
constexpr char kX64DownloadFeature[] = "installer-support-x64-download";
constexpr char kWendLibraryFeature[] = "wend-library";

// Tracking-data keys, as '.'-paths.
constexpr char kDefaultBrowserKey[] = "utm.defbr";
constexpr char kEnableStatsKey[] = "utm.fsce";
constexpr char kNiuidKey[] = "uuid";

const char* BoolText(bool value) {
  return value ? "true" : "false";
}

// A front end with a window asks the user to download the product again; a
// silent one or a backend only says so in its log.
uint8_t ReportCorruptedPayload(bool can_ask_user) {
  if (base::IsFeatureEnabled(kWendLibraryFeature) || !can_ask_user) {
    LOG(ERROR) << "Corrupted payload";
    return kInstallerFailed;
  }
  AskToDownloadAgain(MayRunElevated());
  return kInstallerFailed;
}

}  // namespace

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
  const uint8_t result = RunLogged();
  // The reporter's crash logs ("tarvo-crashlog-<id>-<n>.txt") are found by
  // its id.
  LOG(INFO) << "Crash reporter of this process: " << GetCrashReporterPid();
  return result;
}

uint8_t InstallerProcess::RunLogged() {
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
  // Only a token with the rights the user's other processes lack needs a
  // folder they cannot write; one started for all users but not raised yet
  // downloads as its user.
  if (!(ProcessElevation::ProcessTokenIsElevated()
            ? MakePrivateDownloadFolder()
            : FindUsersDownloadFolder())) {
    return false;
  }
  LOG(INFO) << "Installer download folder: "
            << download_folder_.value().c_str();
  return true;
}

// What an elevated front end copies, downloads, unpacks and runs, and what
// its backend installs, never lies in a folder the user may write: a link
// planted there would take its copies and deletions to another program's
// files, and a file swapped there would be installed. A folder made new
// for the run, that only the administrators may write, takes it all.
bool InstallerProcess::MakePrivateDownloadFolder() {
  if (command_line_.HasSwitch(switches::kTempFolder)) {
    LOG(WARNING) << "Running elevated: the temporary folder given on the "
                    "command line is the user's to write, and is not used";
  }
  // Runs killed with their whole process tree never removed theirs; nothing
  // else ever would.
  DeadRunPrivateFolders::RemoveFromSystemTemp();
  private_download_folder_ = std::make_unique<PrivateTempFolder>(
      PrivateTempFolder::Owners::kAdministrators);
  if (!private_download_folder_->Create()) {
    LOG(ERROR) << "Running elevated, and no download folder that only the "
                  "administrators may write could be made";
    return false;
  }
  download_folder_ = private_download_folder_->path();
  LOG(INFO) << "Made " << download_folder_.AsUTF8()
            << " with the access list "
            << base::WideToUtf8(PrivateTempFolder::GetAccessListText(
                   PrivateTempFolder::Owners::kAdministrators))
            << " for the downloads of a run that may be elevated";
  return true;
}

bool InstallerProcess::FindUsersDownloadFolder() {
  if (command_line_.HasSwitch(switches::kTempFolder)) {
    VLOG(1) << "Using download folder from command line";
    download_folder_ = command_line_.GetSwitchValuePath(switches::kTempFolder)
                           .Append(GetInstallerFolderName());
    // Windows would start nothing from the package; the download could not
    // even be deleted.
    if (!LeavesRoomBelow(download_folder_, GetRoomBelowDownloadFolder())) {
      LOG(ERROR) << "The temporary installer folder is too long: "
                 << download_folder_.value().size() << " characters, at most "
                 << MAX_PATH - 1 - GetRoomBelowDownloadFolder();
      return false;
    }
    if (!base::CreateDirectory(download_folder_)) {
      LOG(ERROR) << "Could not create temporary installer folder";
      return false;
    }
  } else if (!FindExecutableDirectory(GetInstallerFolderName(), own_file_,
                                      GetRoomBelowDownloadFolder(),
                                      &download_folder_)) {
    LOG(ERROR) << "Could not obtain temporary installer folder";
    return false;
  }
  // Runs that died never removed their downloads and packages, nor the
  // installer's copies their own folders; nothing else ever would.
  DeadRunDownloads::RemoveFrom(download_folder_);
  DeadRunPrivateFolders::RemoveCopiesFromUserTemp();
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

base::FilePath RecoverInstallFolderFromCommandLine(
    const base::CommandLine& command_line) {
  const base::FilePath last_token(command_line.argv().back());
  return last_token.IsAbsolute() ? last_token : base::FilePath();
}

}  // namespace installer
