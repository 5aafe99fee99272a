// Tasks of the `Installer` that the main routine and the step bodies share:
// the per-user work after an elevated installation, the finalisation in the
// user's profile, the registry placeholders, and the clean-ups of an
// uninstallation.

#include <windows.h>

#include <shellapi.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <string>

#include "base/command_line.h"
#include "base/features/feature_list.h"
#include "base/files/file_enumerator.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/path_service.h"
#include "base/process/launch.h"
#include "base/strings/string_split.h"
#include "base/strings/utf_string_conversions.h"
#include "base/threading/prefs_task_pool.h"
#include "base/values.h"
#include "base/win/registry.h"
#include "base/win/shortcut.h"
#include "base/win/windows_version.h"
#include "base/win/wmi.h"
#include "components/prefs/json_pref_store.h"
#include "desktop/common/autoupdate/updatechecker/global_storage.h"
#include "desktop/windows/installer/branding.h"
#include "desktop/windows/installer/installer.h"
#include "desktop/windows/installer/installer_names.h"
#include "desktop/windows/installer/installer_process_switches.h"
#include "desktop/windows/installer/installer_version.h"
#include "desktop/windows/installer/service/association_shell.h"
#include "desktop/windows/installer/service/firewall_manager.h"
#include "desktop/windows/installer/service/firewall_name_provider.h"
#include "desktop/windows/installer/service/folder_product_environment.h"
#include "desktop/windows/installer/service/system_association_shell.h"
#include "desktop/windows/installer/service/task_scheduler.h"
#include "desktop/windows/installer/service/taskband_utils.h"
#include "desktop/windows/installer/service/transactions/copy_file_operation.h"
#include "desktop/windows/installer/service/utils.h"
#include "desktop/windows/installer/settings_switches.h"
#include "desktop/windows/installer/status.h"

namespace installer {

namespace {

constexpr char kLocalStateName[] = "Local State";
constexpr char kPreferencesName[] = "Preferences";
constexpr char kAppLocalePref[] = "intl.app_locale";
constexpr char kStatsCollectionPref[] = "statistics.collection_enabled";
constexpr char kPartnerContentUpdatedPref[] = "custom_partner_content.updated";
constexpr char kPartnerContentName[] = "custom_partner_content.json";
constexpr char kTrackingUserAgentName[] = "tracking_user_agent.json";
constexpr char kKeepPartnerContentFeature[] =
    "keep-custom-partner-content-file-in-profile";
constexpr char kStartMaximized[] = "start-maximized";
constexpr char kUuidName[] = "UUID";
constexpr wchar_t kAppUserModelIdPrefix[] = L"TarvoSoftware.TarvoWebBrowser.";

constexpr wchar_t kIeInstallInfoKey[] =
    L"SOFTWARE\\Clients\\StartMenuInternet\\IEXPLORE.EXE\\InstallInfo";

// The placeholders of the registry templates that depend on nothing but
// the build and its branding.
struct Placeholder {
  const wchar_t* name;
  std::wstring (*value)();
};

std::wstring VersionValue() {
  return base::Utf8ToWide(GetVersionString());
}
std::wstring ExecutableValue() {
  return base::Utf8ToWide(GetProductExecutableName());
}
std::wstring ProductValue() {
  return base::Utf8ToWide(GetProductName());
}
std::wstring CompanyValue() {
  return base::Utf8ToWide(GetCompanyName());
}
std::wstring CompanyRegistryKeyValue() {
  return GetCompanyRegistryPath();
}
std::wstring StreamValue() {
  return base::Utf8ToWide(GetStreamName());
}
std::wstring HelpUrlValue() {
  return base::Utf8ToWide(GetBrandingUrl("help"));
}
std::wstring CompanyUrlValue() {
  return base::Utf8ToWide(GetBrandingUrl("homepage"));
}
std::wstring DownloadsUrlValue() {
  return base::Utf8ToWide(GetBrandingUrl("download"));
}

constexpr Placeholder kPlaceholders[] = {
    {L"Version", &VersionValue},
    {L"Executable", &ExecutableValue},
    {L"Product", &ProductValue},
    {L"Company", &CompanyValue},
    {L"CompanyRegistryKey", &CompanyRegistryKeyValue},
    {L"Stream", &StreamValue},
    {L"HelpURL", &HelpUrlValue},
    {L"CompanyURL", &CompanyUrlValue},
    {L"DownloadsURL", &DownloadsUrlValue},
};

base::RefPtr<base::JsonPrefStore> OpenPrefs(const base::FilePath& path) {
  return base::CreateFilePrefStore(base::GetPrefsTaskPool(), path);
}

void LaunchComponentSubinstaller(const std::string& name,
                                 const base::FilePath& folder) {
  base::FilePath subinstaller = folder.AppendASCII(name + "_installer.exe");
  if (name == "suite" && !base::PathExists(subinstaller))
    subinstaller = folder.AppendASCII("assistant_installer.exe");
  base::CommandLine command_line(subinstaller);
  command_line.AppendSwitch(switches::kPostElevatedInstallTasks);
  command_line.AppendSwitchPath(switches::kInstallFolder, folder);
  LOG(INFO) << "Launching " << name
            << " component subinstaller with command line "
            << base::WideToUtf8(command_line.GetCommandLineString());
  // Not waited for: the process handle closes at once.
  base::LaunchProcessForCommandLine(command_line, base::ProcessLaunchOptions());
}

// Runs the command the system keeps for making Internet Explorer the
// default browser again; false when there is none or it cannot run.
bool RunIeReinstallCommand() {
  base::win::RegistryKey key;
  std::wstring command;
  if (key.Open(HKEY_LOCAL_MACHINE, kIeInstallInfoKey, KEY_QUERY_VALUE) !=
          ERROR_SUCCESS ||
      key.ReadString(L"ReinstallCommand", &command) != ERROR_SUCCESS) {
    return false;
  }
  std::wstring program;
  std::wstring arguments;
  if (!Installer::SplitReinstallCommand(command, &program, &arguments)) {
    LOG(ERROR) << "Malformed ReinstallCommand";
    return false;
  }
  // This library is 64-bit: there is no file-system redirection to turn
  // off around the call.
  SHELLEXECUTEINFOW info = {};
  info.cbSize = sizeof(info);
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_DOENVSUBST;
  info.lpFile = program.c_str();
  info.lpParameters = arguments.c_str();
  info.nShow = SW_SHOW;
  if (!Installer::RunShellExecute(&info)) {
    PLOG(ERROR) << "Failed to run ReinstallCommand";
    return false;
  }
  if (info.hProcess) {
    const base::win::ScopedHandle process(info.hProcess);
    WaitForSingleObject(process.Get(), INFINITE);
  }
  return true;
}

struct IeAssociation {
  const wchar_t* name;
  ASSOCIATIONTYPE type;
};
constexpr IeAssociation kIeAssociations[] = {
    {L".htm", AT_FILEEXTENSION},
    {L".html", AT_FILEEXTENSION},
    {L"http", AT_URLPROTOCOL},
    {L"https", AT_URLPROTOCOL},
};
// The Open-with dialog's flags for the HTTP handler on Windows 8.
constexpr OPEN_AS_INFO_FLAGS kOpenWithHttpFlags =
    static_cast<OPEN_AS_INFO_FLAGS>(0x4A);

}  // namespace

void Installer::RunPostElevationTasks() {
  VLOG(1) << "Running post elevation installation tasks.";
  const bool uninstalling = settings_->operation() == Settings::kUninstalling;
  if (!uninstalling && !settings_->GetFlag(COPY_ONLY)) {
    const bool skip_registration =
        base::win::GetWindowsVersion() >= base::win::kVersionWin10 &&
        (settings_->GetFlag(SILENT) || status()->is_http_handler);
    if (!skip_registration)
      RegisterForCurrentUser();
  }
  for (const auto& [name, folder] : status()->install_log.components)
    LaunchComponentSubinstaller(name, base::FilePath(folder));
  if (!uninstalling)
    FinalizeSuccessfulInstallation();
}

void Installer::RegisterForCurrentUser() {
  FolderProductEnvironment environment(status()->install_folder);
  VLOG(1) << "Ensuring Tarvo is registered for the current user.";
  if (settings_->GetFlag(DEFAULT_BROWSER)) {
    LOG(INFO) << "Making Tarvo the default browser for the current user.";
    environment.RememberCurrentDefaultBrowser(false);
    environment.MakeDefaultBrowser(false);
  } else {
    LOG(INFO) << "Setting up file handlers for the current user.";
    environment.RegisterAssociations(false);
  }
}

void Installer::FinalizeSuccessfulInstallation() {
  LOG(INFO) << "Finalizing successful installation";
  const base::FilePath profile = status()->profile_path;
  if (!profile.empty())
    UpdateUserProfile(profile);
  if (!settings_->GetFlag(LAUNCH_TARVO))
    return;
  base::CommandLine command_line(
      status()->install_folder.Append(kLauncherName));
  CopyImportSwitches(&command_line);
  if (settings_->operation() != Settings::kUpgrading)
    command_line.AppendSwitch(kStartMaximized);
  LOG(INFO) << "Launching tarvo with command line "
            << base::WideToUtf8(command_line.GetCommandLineString());
  base::ProcessLaunchOptions options;
  options.wait = true;
  base::LaunchProcessForCommandLine(command_line, options);
}

void Installer::UpdateUserProfile(const base::FilePath& profile) {
  VLOG(1) << "User profile modifications";
  const base::RefPtr<base::JsonPrefStore> local_state =
      OpenPrefs(profile.AppendASCII(kLocalStateName));
  if (local_state->GetValue(kAppLocalePref, nullptr)) {
    VLOG(1) << "Updating user profile language";
    local_state->SetValue(
        kAppLocalePref,
        base::MakeValue<base::Value>(settings_->install_language()), 0);
  }
  if (settings_->GetFlag(AUTOUPDATE))
    return;
  const base::RefPtr<base::JsonPrefStore> preferences =
      OpenPrefs(profile.AppendASCII(kPreferencesName));
  VLOG(1) << "Removing stat pref from the user profile";
  preferences->RemoveValue(kStatsCollectionPref, 0);

  const base::FilePath profile_content =
      profile.AppendASCII(kPartnerContentName);
  const base::FilePath profile_user_agent =
      profile.AppendASCII(kTrackingUserAgentName);
  const base::FilePath resources =
      status()
          ->install_folder.Append(install_log_.subfolder)
          .AppendASCII("resources");
  const base::FilePath package_content =
      resources.AppendASCII(kPartnerContentName);
  const bool package_has_content = base::PathExists(package_content);
  const bool package_has_user_agent =
      base::PathExists(resources.AppendASCII(kTrackingUserAgentName));
  bool updated = false;
  if (!package_has_content && !package_has_user_agent) {
    if (base::PathExists(profile_content)) {
      updated = base::DeletePath(profile_content, false);
      base::DeletePath(profile_user_agent, false);
      VLOG(1) << "Removing tracking ua file from the user profile";
    }
  } else if (!base::PathExists(profile_content) &&
             !base::PathExists(profile_user_agent) &&
             base::IsFeatureEnabled(kKeepPartnerContentFeature) &&
             package_has_content) {
    VLOG(1) << "Installed new cutsom edition to the user profile";
    updated = base::CopyFileChecked(package_content, profile_content);
    if (!updated)
      LOG(WARNING) << "Failed to copy new custom edition file.";
  }
  if (updated) {
    VLOG(1) << "Flag the fact that custom content was updated in profile.";
    local_state->SetValue(kPartnerContentUpdatedPref,
                          base::MakeBooleanValue(true), 0);
  }
}

std::wstring Installer::Resolve(const std::wstring& name) {
  if (name == L"InstallFolder")
    return settings_ ? status()->install_folder.value() : std::wstring();
  if (name == L"Uninstall")
    return uninstall_key_name_;
  for (const Placeholder& placeholder : kPlaceholders) {
    if (name == placeholder.name)
      return placeholder.value();
  }
  return name;
}

RegistryData* Installer::GetRegistryRecord(HKEY root) {
  if (!registry_logging_)
    return nullptr;
  return root == HKEY_LOCAL_MACHINE ? &install_log_.hklm_registry
                                    : &install_log_.hkcu_registry;
}

std::wstring Installer::ExpandProductPlaceholders(
    const std::wstring& text) const {
  if (!status()->kilnor_installation)
    return text;
  const std::wstring stream =
      GetOldProductStreamName(status()->old_product_type);
  std::wstring expanded = text;
  for (const auto& [placeholder, value] :
       {std::pair<std::wstring, std::wstring>{L"{Product}", stream},
        std::pair<std::wstring, std::wstring>{L"{SPProduct}", L" " + stream}}) {
    const size_t found = expanded.find(placeholder);
    if (found != std::wstring::npos)
      expanded.replace(found, placeholder.size(), value);
  }
  return expanded;
}

// static
std::wstring Installer::GetOldProductStreamName(int32_t product_type) {
  switch (product_type) {
    case 0:
      return std::wstring();
    case 1:
      return L"Next";
    case 2:
      return L"Labs";
    default:
      return L"Invalid";
  }
}

// static
std::wstring Installer::GetShortcutFileName(bool with_version) {
  std::string name = GetVisibleProductNameWithStream();
  if (with_version)
    name += " " + std::to_string(GetMajorVersion());
  name += GetShortcutSuffix() + ".lnk";
  return base::Utf8ToWide(name);
}

bool Installer::CreateMasterShortcut(
    std::vector<ShortcutDestination>* destinations,
    bool pin,
    bool* use_version,
    const base::FilePath& target) {
  base::win::ShortcutProperties properties;
  properties.set_target(target);
  properties.set_working_directory(target.DirName());
  properties.set_app_id(kAppUserModelIdPrefix +
                        base::Utf8ToWide(install_log_.app_id));
  if (!*use_version) {
    const std::wstring plain = GetShortcutFileName(false);
    for (const ShortcutDestination& destination : *destinations) {
      if (base::PathExists(destination.folder.Append(plain))) {
        VLOG(1) << "Using version in shortcut name to avoid collision";
        *use_version = true;
        break;
      }
    }
  }
  const std::wstring name = GetShortcutFileName(*use_version);
  LOG(INFO) << "Using shortcut name " << base::WideToUtf8(name);
  VLOG(1) << "Creating master shortcut";
  const base::FilePath master = package_folder_.Append(name);
  VLOG(1) << "Creating master shortcut at " << master.AsUTF8();
  const bool created = base::win::CreateOrUpdateShortcut(
      master, properties, base::win::kShortcutCreateAlways);
  if (!created) {
    LOG(ERROR) << "Failed to create shortcut at " << master.AsUTF8();
  } else {
    if (pin) {
      VLOG(1) << "Pinning master shortcut";
      if (PinToTaskbar(package_folder_, master, kPinNow))
        install_log_.pinned = true;
      else
        LOG(ERROR) << "Failed pinning " << master.AsUTF8();
    }
    for (const ShortcutDestination& destination : *destinations) {
      const base::FilePath copy = destination.folder.Append(name);
      if (transaction_.ExecuteOperation(
              std::make_unique<CopyFileOperation>(master, copy)) &&
          destination.result) {
        *destination.result = copy;
      }
    }
  }
  destinations->clear();
  return created;
}

// static
void Installer::AddFirewallRule(const base::FilePath& executable, bool remove) {
  std::unique_ptr<FirewallManager> manager =
      FirewallManager::Create(GetFirewallNameProvider(), executable);
  if (!manager) {
    LOG(ERROR) << "Failed creating a FirewallManager.";
    return;
  }
  if (remove)
    manager->RemoveRules();
  else if (!manager->AddMdnsRule())
    LOG(ERROR) << "Failed creating a firewall rules.";
}

// static
void Installer::RemoveAutoupdateTask(std::string* name_suffix) {
  std::unique_ptr<TaskScheduler> scheduler = CreateTaskScheduler();
  if (scheduler->Init()) {
    scheduler->DeleteStaleTasks();
    scheduler->DeleteTask(L"Autoupdate " + base::Utf8ToWide(*name_suffix));
  }
  name_suffix->clear();
}

// static
void Installer::RemoveMessageCenterShortcuts() {
  base::FilePath start_menu;
  if (!base::GetPathForKey(base::kStartMenu, &start_menu))
    return;
  base::FileEnumerator shortcuts(start_menu, false,
                                 base::FileEnumerator::kFiles,
                                 L"Tarvo*Message Center.lnk");
  for (base::FilePath shortcut = shortcuts.Next(); !shortcut.empty();
       shortcut = shortcuts.Next()) {
    base::DeletePath(shortcut, false);
  }
}

void Installer::ResetDefaultBrowserAndShowSurvey(
    const base::FilePath& install_folder) {
  SendNotifyMessageW(
      HWND_BROADCAST, WM_SETTINGCHANGE, 0,
      reinterpret_cast<LPARAM>(L"Software\\Clients\\StartMenuInternet"));
  SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
  AssociationShell* shell = GetSystemAssociationShell();
  if (!settings_->GetFlag(COPY_ONLY)) {
    VLOG(1) << "Attempting to reset the default browser to IE.";
    if (status()->is_http_handler &&
        shell->windows_version() >= base::win::kVersionVista) {
      ResetDefaultBrowserToIe(settings_->GetFlag(ALL_USERS_FLAG), shell);
    }
  }
  if (IsUserAdmin(false)) {
    AddFirewallRule(install_folder.Append(status()->install_log.subfolder)
                        .AppendASCII(GetProductExecutableName()),
                    true);
  }
  ShowUninstallSurvey();
}

// static
void Installer::ResetDefaultBrowserToIe(bool all_users,
                                        AssociationShell* shell) {
  // For all users Internet Explorer's own reinstall command goes first; when
  // it is missing or cannot start, the associations are left as they are.
  if (all_users && !RunIeReinstallCommand())
    return;
  if (shell->windows_version() == base::win::kVersionWin8) {
    if (shell->ShowOpenWithDialog(L"http", kOpenWithHttpFlags))
      shell->NotifyAssociationChanged();
    return;
  }
  for (const IeAssociation& association : kIeAssociations)
    shell->SetAppAsDefault(L"Internet Explorer", association.name,
                           association.type);
}

void Installer::ShowUninstallSurvey() {
  const std::string survey = GetBrandingUrl("uninstall_survey");
  if (survey.empty() || GetProcessCommandLine().HasSwitch(switches::kSilent))
    return;
  VLOG(1) << "Trying to display the uninstall survey";
  std::string url = survey + "?version=" + GetVersionString();
  std::string uuid;
  base::FilePath user_data;
  GlobalStorage* storage = GlobalStorage::GetInstance();
  if (FolderProductEnvironment(status()->install_folder)
          .GetUserDataDir(&user_data)) {
    storage->SetFallbackDirectory(user_data);
  }
  storage->Read(kUuidName, &uuid);
  url += "&uuid=" + uuid;
  const std::vector<std::string> welcome = base::SplitNarrowByChar(
      status()->welcome_url, '?', base::KEEP_WHITESPACE, base::SPLIT_WANT_ALL);
  if (welcome.size() == 2)
    url += "&" + welcome[1];
  base::FilePath program_files;
  if (!base::GetPathForKey(base::kProgramFiles, &program_files))
    return;
  const base::FilePath browser =
      program_files.Append(L"Internet Explorer").Append(L"iexplore.exe");
  DWORD process_id = 0;
  base::win::LaunchViaWmi(
      MakeSurveyCommandLine(
          browser, base::win::GetWindowsVersion() >= base::win::kVersionWin8,
          url),
      &process_id);
}

// static
bool Installer::SplitReinstallCommand(const std::wstring& command,
                                      std::wstring* program,
                                      std::wstring* arguments) {
  program->clear();
  arguments->clear();
  if (command.empty())
    return false;
  size_t arguments_start = std::wstring::npos;
  if (command.front() == L'"') {
    const size_t close = command.find(L'"', 1);
    if (close == std::wstring::npos)
      return false;
    *program = command.substr(1, close - 1);
    arguments_start = close + 1;
  } else {
    const size_t space = command.find(L' ');
    *program = command.substr(0, space);
    arguments_start = space;
  }
  if (arguments_start < command.size()) {
    const size_t first = command.find_first_not_of(L' ', arguments_start);
    if (first != std::wstring::npos)
      *arguments = command.substr(first);
  }
  return !program->empty();
}

// static
std::wstring Installer::MakeSurveyCommandLine(const base::FilePath& browser,
                                              bool private_mode,
                                              const std::string& url) {
  // Both parts come from outside this process (a system folder with blanks,
  // a URL partly read from the installation's stored data): quoted, neither
  // can become a second program argument.
  std::wstring command_line = L"\"" + browser.value() + L"\"";
  if (private_mode)
    command_line += L" -private";
  return command_line + L" " +
         base::QuoteForCommandLineToArgvW(base::Utf8ToWide(url), true);
}

// static
std::wstring Installer::MakeUninstallKeyPath(const std::wstring& suffix) {
  return GetUninstallRegistryPath() + L"\\" +
         base::Utf8ToWide(GetProductName()) + L" " +
         base::Utf8ToWide(GetVersionString()) + suffix;
}

// static
std::string Installer::MakeCountedPrefValue(const std::string& text,
                                            bool first) {
  return text + "@" + (first ? "1" : "2");
}

}  // namespace installer
