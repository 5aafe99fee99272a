#include "desktop/windows/installer/settings/settings.h"

#include <atomic>
#include <memory>
#include <utility>

#include "base/bind.h"
#include "base/command_line.h"
#include "base/files/file_util.h"
#include "base/features/feature_tables.h"
#include "base/location.h"
#include "base/logging.h"
#include "base/path_service.h"
#include "base/post_task_and_reply.h"
#include "base/strings/utf_string_conversions.h"
#include "base/threading/pool_sequenced_task_runner.h"
#include "base/threading/prefs_task_pool.h"
#include "base/win/scoped_com_initializer.h"
#include "base/win/windows_version.h"
#include "desktop/windows/installer/product_environment/product_environment.h"
#include "desktop/windows/installer/recovery/interrupted_run_recovery.h"
#include "desktop/windows/installer/settings/settings_switches.h"
#include "desktop/windows/installer/settings/status.h"
#include "desktop/windows/installer/stats_sender/stats_node.h"
#include "desktop/windows/installer/system/utils.h"
#include "desktop/windows/rc_l10n_handler/ui_language.h"

namespace installer {

namespace {

constexpr int32_t kStableChannel = 4;

constexpr const char* kModeNames[] = {"all_users", "current_user",
                                      "standalone"};
constexpr const char* kOperationNames[] = {"none", "installing", "upgrading",
                                           "uninstalling",
                                           "registering_protocol_handler"};

// The flags the log shows after reading the command line, in this order.
constexpr SettingsFlag kLoggedFlags[] = {
    ALL_USERS_FLAG,        COPY_ONLY,
    DEFAULT_BROWSER,       ENABLE_INSTALLER_STATS,
    ENABLE_TARVO_STATS,    IMPORT_BROWSER_DATA,
    LAUNCH_TARVO,          SINGLE_PROFILE,
    DESKTOP_SHORTCUT,      PINNED_SHORTCUT,
    QUICK_LAUNCH_SHORTCUT, START_MENU_SHORTCUT,
};

// Read only when not copy-only.
struct FlagSwitch {
  SettingsFlag flag;
  const char* name;
};
constexpr FlagSwitch kInstallationSwitches[] = {
    {ALL_USERS_FLAG, switches::kAllUsers},
    {DEFAULT_BROWSER, switches::kSetDefaultBrowser},
    {DESKTOP_SHORTCUT, switches::kDesktopShortcut},
    {START_MENU_SHORTCUT, switches::kStartMenuShortcut},
    {QUICK_LAUNCH_SHORTCUT, switches::kQuickLaunchShortcut},
    {PINNED_SHORTCUT, switches::kPinToTaskbar},
};
constexpr FlagSwitch kShortcutSwitches[] = {
    {DESKTOP_SHORTCUT, switches::kDesktopShortcut},
    {START_MENU_SHORTCUT, switches::kStartMenuShortcut},
    {QUICK_LAUNCH_SHORTCUT, switches::kQuickLaunchShortcut},
    {PINNED_SHORTCUT, switches::kPinToTaskbar},
};
constexpr SettingsFlag kCopyOnlyClearedFlags[] = {
    ALL_USERS_FLAG,      DEFAULT_BROWSER,       DESKTOP_SHORTCUT,
    START_MENU_SHORTCUT, QUICK_LAUNCH_SHORTCUT, PINNED_SHORTCUT,
};

// Quick launch was replaced by taskbar pins in Windows 7.
bool DefaultQuickLaunchShortcut() {
  return base::win::GetWindowsVersion() < base::win::kVersionWin7;
}

const char* BoolText(bool value) {
  return value ? "true" : "false";
}

// The status of `folder` for a run. A run that died there left the folder
// between two states: it is recovered before the status is read, so that
// what is read is the whole product (or none of it); what the recovery
// could not undo goes with the status, and no run may start there.
std::unique_ptr<Status> RecoverAndExamineFolder(
    const base::FilePath& folder,
    bool look_for_former_generation) {
  auto status = std::make_unique<Status>(look_for_former_generation);
  if (!status->Locate(folder))
    return status;
  if (base::DirectoryExists(folder))
    status->recovery = InterruptedRunRecovery::RecoverFolder(folder);
  status->Read();
  return status;
}

}  // namespace

// One status computation: made on the settings' thread, filled on a worker,
// read back by the reply on the settings' thread. A newer folder cancels
// the older request: its reply then does nothing, and a worker that has not
// started it yet skips the work.
class Settings::StatusRequest : public base::RefCounted<StatusRequest> {
 public:
  StatusRequest(base::FilePath folder, bool look_for_former_generation)
      : folder_(std::move(folder)),
        look_for_former_generation_(look_for_former_generation) {}

  const base::FilePath& folder() const { return folder_; }
  void Cancel() { cancelled_ = true; }
  bool cancelled() const { return cancelled_; }

  // On the worker.
  void Fetch() {
    if (cancelled_)
      return;
    base::win::ScopedCOMInitializer com(
        base::win::ScopedCOMInitializer::Apartment::kSingleThreaded);
    status_ = RecoverAndExamineFolder(folder_, look_for_former_generation_);
  }

  // Null when the request was cancelled before it ran.
  std::unique_ptr<Status> TakeStatus() { return std::move(status_); }

 private:
  friend class base::RefCounted<StatusRequest>;
  ~StatusRequest() = default;

  const base::FilePath folder_;
  const bool look_for_former_generation_;
  std::atomic<bool> cancelled_{false};
  std::unique_ptr<Status> status_;
};

Settings::Settings(bool uninstall,
                   bool silent,
                   bool autoupdate,
                   const base::FilePath& install_folder,
                   bool replace_old_installation,
                   uint32_t architecture)
    : command_line_folder_(install_folder.NormalizePathSeparators()),
      architecture_(architecture) {
  flags_.set(UNINSTALL_FLAG, uninstall);
  flags_.set(SILENT, silent);
  flags_.set(AUTOUPDATE, autoupdate);
  flags_.set(REPLACE_KILNOR_INSTALLATION, replace_old_installation);
  status_ = std::make_unique<Status>(replace_old_installation);
  registry_folder_ = ReadInstallFolderFromRegistry(architecture);
  standalone_folders_ = ListStandaloneInstallPaths();

  VLOG(1) << "Obtaining system language";
  SelectUiLanguage(&install_language_);
  VLOG(1) << "Initializing settings";

  const base::CommandLine& command_line = GetProcessCommandLine();
  if (uninstall) {
    ApplyBoolSwitch(DELETE_PROFILE, switches::kDeleteUserProfile, command_line);
    if (!command_line.HasSwitch(switches::kBackend))
      ScanUninstallKeys();
    SetInstallFolder(GetProductEnvironment()->install_dir());
    return;
  }
  if (command_line.HasSwitch(switches::kLanguage))
    SetLanguage(command_line.GetSwitchValueNative(switches::kLanguage));
  ReadCommandLine();
  ChooseInitialInstallFolder();
}

Settings::~Settings() {
  VLOG(1) << "Destroying settings";
  CancelPendingRequest();
  status_.reset();
}

void Settings::AddObserver(Observer* observer) {
  observers_.AddObserver(observer);
}

void Settings::RemoveObserver(Observer* observer) {
  observers_.RemoveObserver(observer);
}

Settings::Mode Settings::GetMode() const {
  if (GetFlag(COPY_ONLY))
    return kStandaloneMode;
  return GetFlag(ALL_USERS_FLAG) ? kAllUsersMode : kCurrentUserMode;
}

// The default folder from every source, except that a folder in the 32-bit
// program files, where x86 builds installed, is left for an x64 run unless
// it holds an installation.
void Settings::ChooseInitialInstallFolder() {
  base::FilePath program_files_x86;
  const base::FilePath registry_default =
      GetDefaultInstallFolderForCurrentMode(kFromRegistry);
  if (architecture_ == kArchitectureX64 && command_line_folder_.empty() &&
      !registry_default.empty() &&
      base::GetPathForKey(base::kProgramFilesX86, &program_files_x86) &&
      program_files_x86.IsParent(registry_default)) {
    std::unique_ptr<Status> status = RecoverAndExamineFolder(
        registry_default, GetFlag(REPLACE_KILNOR_INSTALLATION));
    if (status->existing_installation) {
      ApplyStatus(std::move(status));
    } else {
      SetInstallFolder(
          GetDefaultInstallFolderForCurrentMode(kFromStandardFolder));
    }
    return;
  }
  SetInstallFolder(GetDefaultInstallFolderForCurrentMode(kFromAnySource));
}

bool Settings::SetFlag(int32_t flag, bool value) {
  if (!changeable_ || flag < 0 || flag >= kSettingsFlagCount)
    return false;
  flags_.set(flag, value);
  LOG(INFO) << SettingsFlagName(flag) << " set to: " << value;
  NotifySettingsChanged();
  return true;
}

bool Settings::SetAllUsers(bool value) {
  if (operation_ == kUpgrading || GetFlag(COPY_ONLY))
    return false;
  return SetFlag(ALL_USERS_FLAG, value);
}

bool Settings::SetDefaultBrowser(bool value) {
  if (GetFlag(COPY_ONLY))
    return false;
  return SetFlag(DEFAULT_BROWSER, value);
}

bool Settings::SetDeleteProfile(bool value) {
  if (!GetFlag(UNINSTALL_FLAG))
    return false;
  return SetFlag(DELETE_PROFILE, value);
}

bool Settings::SetEnableInstallerStats(bool value) {
  return SetFlag(ENABLE_INSTALLER_STATS, value);
}

bool Settings::SetEnableStats(bool value) {
  return SetFlag(ENABLE_TARVO_STATS, value);
}

bool Settings::SetImportBrowserData(bool value) {
  return SetFlag(IMPORT_BROWSER_DATA, value);
}

bool Settings::SetCopyOnly(bool value) {
  if (!changeable_ || operation_ == kUpgrading)
    return false;
  ApplyShortcutSwitches(value);
  LOG(INFO) << SettingsFlagName(COPY_ONLY) << " set to: " << value;
  NotifySettingsChanged();
  return true;
}

bool Settings::SetMode(Mode mode) {
  if (!changeable_)
    return false;
  VLOG(2) << "Changing Settings using SetMode";
  const bool folder_was_default =
      IsDefaultInstallFolder(status_->install_folder);
  const bool keep_single_profile =
      GetProcessCommandLine().HasSwitch(switches::kSingleProfile) ||
      operation_ == kUpgrading;
  bool result = false;
  if (mode == kStandaloneMode) {
    if (!keep_single_profile)
      flags_.set(SINGLE_PROFILE);
    result = SetCopyOnly(true);
  } else {
    if (!keep_single_profile)
      flags_.reset(SINGLE_PROFILE);
    result = SetCopyOnly(false) && operation_ != kUpgrading &&
             !GetFlag(COPY_ONLY) &&
             SetFlag(ALL_USERS_FLAG, mode == kAllUsersMode);
  }
  if (folder_was_default) {
    SetInstallFolder(GetDefaultInstallFolderForCurrentMode(kFromStandardFolder |
                                                           kFromRegistry));
  }
  return result;
}

bool Settings::SetLanguage(const std::wstring& language) {
  if (!changeable_)
    return false;
  if (language == install_language_)
    return true;
  install_language_ = language;
  LOG(INFO) << "Attempt setting install_language_ to: "
            << install_language_.c_str();
  SelectUiLanguage(&install_language_);
  LOG(INFO) << "Actual install_language_ set: " << install_language_.c_str();
  NotifyLanguageChanged();
  return true;
}

bool Settings::SetInstallFolderIfAllowed(const base::FilePath& folder) {
  if (!changeable_)
    return false;
  SetInstallFolder(folder);
  return true;
}

bool Settings::SetNiuid(const std::string& niuid) {
  if (!changeable_)
    return false;
  // Bytes above 0x7F stay above it, so non-ASCII text is refused.
  const std::wstring wide(niuid.begin(), niuid.end());
  if (!IsValidNiuid(wide)) {
    LOG(WARNING) << "Ignoring a niuid that is not an installer id ("
                 << niuid.size() << " bytes)";
    return false;
  }
  niuid_ = niuid;
  return true;
}

void Settings::ReadCommandLine() {
  if (!changeable_)
    return;
  VLOG(1) << "Settings from command line";
  const base::CommandLine& command_line = GetProcessCommandLine();

  flags_.set(ALL_USERS_FLAG, IsUserAdmin(!GetFlag(SILENT)));
  flags_.reset(COPY_ONLY);
  flags_.set(LAUNCH_TARVO);
  flags_.set(DEFAULT_BROWSER, base::GetReleaseChannel() == kStableChannel &&
                                  !GetFlag(AUTOUPDATE));
  flags_.set(IMPORT_BROWSER_DATA);
  flags_.set(ENABLE_INSTALLER_STATS);
  flags_.set(ENABLE_TARVO_STATS);
  flags_.reset(SINGLE_PROFILE);
  flags_.set(DESKTOP_SHORTCUT);
  flags_.set(START_MENU_SHORTCUT);
  flags_.set(QUICK_LAUNCH_SHORTCUT, DefaultQuickLaunchShortcut());
  flags_.set(PINNED_SHORTCUT);

  if (!ApplyBoolSwitch(LAUNCH_TARVO, switches::kLaunchTarvo, command_line))
    ApplyBoolSwitch(LAUNCH_TARVO, switches::kLaunchBrowser, command_line);
  ApplyBoolSwitch(COPY_ONLY, switches::kCopyOnly, command_line);
  ApplyShortcutSwitches(GetFlag(COPY_ONLY));
  ApplyBoolSwitch(IMPORT_BROWSER_DATA, switches::kImportBrowserData,
                  command_line);
  if (ApplyBoolSwitch(ENABLE_TARVO_STATS, switches::kEnableStats,
                      command_line)) {
    flags_.set(ENABLE_INSTALLER_STATS, GetFlag(ENABLE_TARVO_STATS));
  }
  ApplyBoolSwitch(ENABLE_INSTALLER_STATS, switches::kEnableInstallerStats,
                  command_line);

  if (GetFlag(COPY_ONLY)) {
    flags_.set(SINGLE_PROFILE);
  } else {
    for (const FlagSwitch& entry : kInstallationSwitches)
      ApplyBoolSwitch(entry.flag, entry.name, command_line);
  }
  ApplyBoolSwitch(SINGLE_PROFILE, switches::kSingleProfile, command_line);
  if (command_line.HasSwitch(switches::kProfileFolder))
    profile_folder_ = command_line.GetSwitchValuePath(switches::kProfileFolder);
  if (command_line.HasSwitch(switches::kInstallAssistant) &&
      !GetFlag(COPY_ONLY)) {
    SetFlag(INSTALL_ASSISTANT, true);
  }
  if (command_line.HasSwitch(switches::kNiuid)) {
    const std::wstring niuid =
        command_line.GetSwitchValueNative(switches::kNiuid);
    if (IsValidNiuid(niuid)) {
      niuid_ = base::WideToAscii(niuid);
    } else {
      LOG(WARNING) << "Ignoring a niuid switch that is not an installer id ("
                   << niuid.size() << " characters)";
    }
  }
  LogFlags();
}

void Settings::ApplyShortcutSwitches(bool copy_only) {
  flags_.set(COPY_ONLY, copy_only);
  if (copy_only) {
    for (SettingsFlag flag : kCopyOnlyClearedFlags)
      flags_.reset(flag);
    return;
  }
  const base::CommandLine& command_line = GetProcessCommandLine();
  for (const FlagSwitch& entry : kShortcutSwitches) {
    if (!ApplyBoolSwitch(entry.flag, entry.name, command_line)) {
      flags_.set(entry.flag, entry.flag != QUICK_LAUNCH_SHORTCUT ||
                                 DefaultQuickLaunchShortcut());
    }
  }
}

base::FilePath Settings::GetDefaultInstallFolderForCurrentMode(
    int32_t sources) const {
  return GetDefaultInstallFolder(sources, architecture_,
                                 GetFlag(ALL_USERS_FLAG), GetFlag(COPY_ONLY));
}

std::vector<base::FilePath> Settings::GetDefaultInstallFolders() const {
  if (GetFlag(COPY_ONLY))
    return standalone_folders_;
  return {GetDefaultInstallFolderForCurrentMode(kFromStandardFolder |
                                                kFromRegistry)};
}

bool Settings::IsDefaultInstallFolder(const base::FilePath& folder) const {
  for (const base::FilePath& candidate : GetDefaultInstallFolders()) {
    if (candidate == folder)
      return true;
  }
  return false;
}

void Settings::SetInstallFolder(const base::FilePath& folder) {
  LOG(INFO) << "Setting install folder to: " << folder.value().c_str();
  // The pending request decides what the folder will be, so it is the one
  // to compare with; going back to the current folder only cancels it.
  if (pending_request_) {
    if (pending_request_->folder() == folder)
      return;
    CancelPendingRequest();
  }
  if (status_->install_folder == folder)
    return;
  pending_request_ = base::MakeRefCounted<StatusRequest>(
      folder, GetFlag(REPLACE_KILNOR_INSTALLATION));
  FetchStatus();
}

void Settings::FetchStatus() {
  base::RefPtr<StatusRequest> request = pending_request_;
  const base::RefPtr<base::SequencedWorkerPool>& pool =
      base::GetPrefsTaskPool()->pool();
  bool posted = false;
  if (pool) {
    // One at a time, in the order asked: a superseded request still queued
    // is skipped rather than computed beside the newer one. Nobody needs a
    // status once the pool shuts down.
    auto runner = base::MakeRefCounted<base::PoolSequencedTaskRunner>(
        pool, pool->GetNamedSequenceToken(kStatusSequenceName),
        base::SequencedWorkerPool::ShutdownBehavior::kSkipIfPending);
    posted = base::PostTaskAndReply(
        *runner, FROM_HERE,
        base::Bind(
            [](base::RefPtr<StatusRequest>& fetched) { fetched->Fetch(); },
            request),
        base::BindWeak(&Settings::OnStatusFetched, weak_source_.GetRef(), this,
                       request));
  }
  if (!posted) {
    LOG(ERROR) << "Cannot start computing the status of "
               << request->folder().value().c_str();
    CancelPendingRequest();
  }
}

void Settings::OnStatusFetched(base::RefPtr<StatusRequest> request) {
  if (request->cancelled() || request != pending_request_)
    return;
  ApplyStatus(request->TakeStatus());
}

void Settings::CancelPendingRequest() {
  if (!pending_request_)
    return;
  pending_request_->Cancel();
  pending_request_.reset();
}

void Settings::ApplyStatus(std::unique_ptr<Status> status) {
  if (!changeable_)
    return;
  CancelPendingRequest();
  status_ = std::move(status);
  const Operation old_operation = operation_;
  operation_ = kNoOperation;
  LOG(INFO) << "Install folder set: "
            << status_->install_folder.value().c_str();

  if (!status_->valid_install_path ||
      (GetFlag(UNINSTALL_FLAG) && !status_->existing_installation)) {
    VLOG(1) << "Invalid install folder";
    NotifyPathChanged();
    return;
  }
  LogStatus();
  const base::CommandLine& command_line = GetProcessCommandLine();
  if (status_->existing_installation || old_operation == kUpgrading)
    ReadCommandLine();

  if (GetFlag(UNINSTALL_FLAG))
    operation_ = kUninstalling;
  else if (!status_->existing_installation)
    operation_ = kInstalling;
  else if (command_line.HasSwitch(switches::kRegisterProtocolHandler))
    operation_ = kRegisteringProtocolHandler;
  else
    operation_ = kUpgrading;
  LOG(INFO) << "Operation: " << operation_;

  if (!status_->existing_installation && !status_->kilnor_installation) {
    if (!GetFlag(UNINSTALL_FLAG) &&
        !command_line.HasSwitch(switches::kSingleProfile)) {
      flags_.set(SINGLE_PROFILE, status_->single_profile == -1
                                     ? GetFlag(COPY_ONLY)
                                     : status_->single_profile == 1);
    }
  } else {
    ApplyExistingInstallation();
  }

  LogFlags();
  if (!status_->language.empty() &&
      (GetFlag(UNINSTALL_FLAG) ||
       !command_line.HasSwitch(switches::kLanguage))) {
    SetLanguage(status_->language);
  }
  NotifyPathChanged();
}

void Settings::ApplyExistingInstallation() {
  VLOG(1) << "Using settings from existing installation";
  const base::CommandLine& command_line = GetProcessCommandLine();
  const Status& status = *status_;
  ApplyShortcutSwitches(status.install_log.copy_only);
  flags_.set(ALL_USERS_FLAG, status.install_log.all_users);
  flags_.set(SINGLE_PROFILE, status.single_profile == 1);

  const bool found_shortcuts[] = {
      status.desktop_shortcut_exists, status.start_menu_shortcut_exists,
      status.quick_launch_shortcut_exists,
      // An autoupdate must not pin what the user unpinned.
      !status.pinned_shortcut_paths.empty() || !GetFlag(AUTOUPDATE)};
  static_assert(std::size(found_shortcuts) == std::size(kShortcutSwitches));
  for (size_t i = 0; i < std::size(kShortcutSwitches); ++i) {
    if (!command_line.HasSwitch(kShortcutSwitches[i].name))
      flags_.set(kShortcutSwitches[i].flag, found_shortcuts[i]);
  }

  flags_.set(IMPORT_BROWSER_DATA, status.import_browser_data != 0);
  flags_.set(ENABLE_TARVO_STATS, status.enable_stats != 0);
  if (!command_line.HasSwitch(switches::kEnableInstallerStats))
    flags_.set(ENABLE_INSTALLER_STATS, GetFlag(ENABLE_TARVO_STATS));

  const bool replacing = GetFlag(REPLACE_KILNOR_INSTALLATION);
  if (GetFlag(AUTOUPDATE) && status.kilnor_installation && !replacing)
    flags_.set(LAUNCH_TARVO);
  if ((replacing || GetFlag(AUTOUPDATE)) && status.kilnor_installation &&
      status.is_http_handler) {
    flags_.set(DEFAULT_BROWSER);
  }
}

void Settings::WriteStats(StatsNode* node, const std::string& prefix) const {
  LOG(INFO) << "Writing setting stats with prefix " << prefix;
  node->SetString(prefix + "installation_mode", kModeNames[GetMode()]);
  node->SetString(prefix + "installation_operation",
                  kOperationNames[operation_]);
  node->SetInteger(prefix + "autoupdate", GetFlag(AUTOUPDATE));
  node->SetInteger(prefix + "make_default", GetFlag(DEFAULT_BROWSER));
  node->SetInteger(
      prefix + "using_default_installation_folder",
      status_->install_folder ==
          GetDefaultInstallFolderForCurrentMode(kFromStandardFolder));
  node->SetInteger(
      prefix + "using_privileged_installation_folder",
      NeedsElevation(GetFlag(ALL_USERS_FLAG), status_->has_write_access));
  node->SetString(prefix + "build_arch",
                  architecture_ == kArchitectureX64 ? "X64" : "X86");
  if (status_->status_file_error.empty())
    node->Remove(prefix + "xml_status_parse_error");
  else
    node->SetString(prefix + "xml_status_parse_error",
                    status_->status_file_error);
  if (status_->status_file_content.empty())
    node->Remove(prefix + "xml_status_faulty_file");
  else
    node->SetString(prefix + "xml_status_faulty_file",
                    status_->status_file_content);
}

void Settings::LogFlags() const {
  for (SettingsFlag flag : kLoggedFlags)
    VLOG(1) << SettingsFlagName(flag) << ": " << GetFlag(flag);
  VLOG(1) << "language: " << install_language_.c_str();
}

void Settings::LogStatus() const {
  const Status& status = *status_;
  LOG(INFO) << "status for install folder:"
            << "\n  install folder: " << status.install_folder.value().c_str()
            << "\n  valid_parent folder: "
            << status.valid_parent_folder.value().c_str()
            << "\n  valid_install_path: " << BoolText(status.valid_install_path)
            << "\n  existing_installation: "
            << BoolText(status.existing_installation)
            << "\n  kilnor_installation: "
            << BoolText(status.kilnor_installation)
            << "\n  existing_installation_traces: "
            << BoolText(status.existing_installation_traces)
            << "\n  has_write_access: " << BoolText(status.has_write_access)
            << "\n  desktop_shortcut_exists: "
            << BoolText(status.desktop_shortcut_exists)
            << "\n  start_menu_shortcut_exists: "
            << BoolText(status.start_menu_shortcut_exists)
            << "\n  quick_launch_shortcut_exists: "
            << BoolText(status.quick_launch_shortcut_exists)
            << "\n  pinned_shortcut_paths: "
            << status.pinned_shortcut_paths.size()
            << "\n  is_http_handler: " << BoolText(status.is_http_handler)
            << "\n  import_browser_data: " << status.import_browser_data
            << "\n  enable_stats: " << status.enable_stats
            << "\n  single_profile: " << status.single_profile
            << "\n  old_product_type: " << status.old_product_type
            << "\n  language: " << status.language.c_str()
            << "\n  profile_path: " << status.profile_path.value().c_str()
            << "\n  status file error: " << status.status_file_error;
}

void Settings::NotifySettingsChanged() {
  for (Observer& observer : observers_)
    observer.OnSettingsChanged();
}

void Settings::NotifyLanguageChanged() {
  for (Observer& observer : observers_)
    observer.OnLanguageChanged();
}

void Settings::NotifyPathChanged() {
  for (Observer& observer : observers_)
    observer.OnPathChanged();
}

}  // namespace installer
