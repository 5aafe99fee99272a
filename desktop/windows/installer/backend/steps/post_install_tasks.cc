#include "desktop/windows/installer/backend/steps/post_install_tasks.h"

#include <windows.h>

#include <string>
#include <tuple>

#include "base/command_line.h"
#include "base/features/feature_list.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/process/launch.h"
#include "base/strings/utf_string_conversions.h"
#include "base/threading/prefs_task_pool.h"
#include "base/values.h"
#include "base/win/windows_version.h"
#include "components/prefs/json_pref_store.h"
#include "desktop/windows/installer/backend/installer_process_switches.h"
#include "desktop/windows/installer/backend/run_state.h"
#include "desktop/windows/installer/backend/steps/component_installer_start.h"
#include "desktop/windows/installer/install_log/install_log.h"
#include "desktop/windows/installer/product/package_file_names.h"
#include "desktop/windows/installer/product_environment/folder_product_environment.h"
#include "desktop/windows/installer/settings/may_run_elevated.h"
#include "desktop/windows/installer/settings/settings.h"
#include "desktop/windows/installer/settings/settings_switches.h"
#include "desktop/windows/installer/settings/status.h"
#include "desktop/windows/installer/system/utils.h"

namespace installer {

namespace {

constexpr char kPreferencesName[] = "Preferences";
constexpr char kAppLocalePref[] = "intl.app_locale";
constexpr char kStatsCollectionPref[] = "statistics.collection_enabled";
constexpr char kPartnerContentUpdatedPref[] = "custom_partner_content.updated";
constexpr char kPartnerContentName[] = "custom_partner_content.json";
constexpr char kTrackingUserAgentName[] = "tracking_user_agent.json";
constexpr char kKeepPartnerContentFeature[] =
    "keep-custom-partner-content-file-in-profile";
constexpr char kStartMaximized[] = "start-maximized";

base::RefPtr<base::JsonPrefStore> OpenPrefs(const base::FilePath& path) {
  return base::CreateFilePrefStore(base::GetPrefsTaskPool(), path);
}

void LaunchComponentSubinstaller(const std::string& name,
                                 const base::FilePath& folder) {
  const base::FilePath subinstaller = GetComponentInstallerPath(folder, name);
  base::CommandLine command_line(subinstaller);
  command_line.AppendSwitch(switches::kPostElevatedInstallTasks);
  command_line.AppendSwitchPath(switches::kInstallFolder, folder);
  LOG(INFO) << "Launching " << name
            << " component subinstaller with command line "
            << base::WideToUtf8(command_line.GetCommandLineString());
  // Not waited for: the process handle closes at once.
  std::ignore = StartComponentInstaller(command_line);
}

}  // namespace

PostInstallTasks::PostInstallTasks(Installer* installer)
    : InstallerPart(installer) {}

void PostInstallTasks::RunPostElevationTasks() {
  VLOG(1) << "Running post elevation installation tasks.";
  const bool uninstalling =
      run_.settings->operation() == Settings::kUninstalling;
  if (!uninstalling && !run_.settings->GetFlag(COPY_ONLY)) {
    const bool skip_registration =
        base::win::GetWindowsVersion() >= base::win::kVersionWin10 &&
        (run_.settings->GetFlag(SILENT) || status()->is_http_handler);
    if (!skip_registration)
      RegisterForCurrentUser();
  }
  for (const auto& [name, folder] : status()->install_log.components)
    LaunchComponentSubinstaller(name, base::FilePath(folder));
  if (!uninstalling)
    FinalizeSuccessfulInstallation();
}

void PostInstallTasks::RegisterForCurrentUser() {
  FolderProductEnvironment environment(status()->install_folder);
  VLOG(1) << "Ensuring Tarvo is registered for the current user.";
  if (run_.settings->GetFlag(DEFAULT_BROWSER)) {
    LOG(INFO) << "Making Tarvo the default browser for the current user.";
    environment.RememberCurrentDefaultBrowser(false);
    environment.MakeDefaultBrowser(false);
  } else {
    LOG(INFO) << "Setting up file handlers for the current user.";
    environment.RegisterAssociations(false);
  }
}

void PostInstallTasks::FinalizeSuccessfulInstallation() {
  LOG(INFO) << "Finalizing successful installation";
  const base::FilePath profile = status()->profile_path;
  if (!profile.empty())
    UpdateUserProfile(profile);
  if (!run_.settings->GetFlag(LAUNCH_TARVO))
    return;
  // One user's folder is the user's to write: the launcher there may be
  // swapped for anything just before it starts, and it would start with
  // this process's rights. An installation for all users lies in a folder
  // only the administrators write.
  if (!run_.settings->GetFlag(ALL_USERS_FLAG) && MayRunElevated()) {
    LOG(WARNING) << "Not starting Tarvo: this process may run elevated, and "
                    "the installation folder is the user's to write";
    return;
  }
  base::CommandLine command_line(
      status()->install_folder.Append(kLauncherName));
  CopyImportSwitches(&command_line);
  if (run_.settings->operation() != Settings::kUpgrading)
    command_line.AppendSwitch(kStartMaximized);
  LOG(INFO) << "Launching tarvo with command line "
            << base::WideToUtf8(command_line.GetCommandLineString());
  base::ProcessLaunchOptions options;
  options.wait = true;
  base::LaunchProcessForCommandLine(command_line, options);
}

void PostInstallTasks::UpdateUserProfile(const base::FilePath& profile) {
  VLOG(1) << "User profile modifications";
  const base::RefPtr<base::JsonPrefStore> local_state =
      OpenPrefs(profile.Append(kLocalStateName));
  if (local_state->GetValue(kAppLocalePref, nullptr)) {
    VLOG(1) << "Updating user profile language";
    local_state->SetValue(
        kAppLocalePref,
        base::MakeValue<base::Value>(run_.settings->install_language()), 0);
  }
  if (run_.settings->GetFlag(AUTOUPDATE))
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
          ->install_folder.Append(run_.install_log.subfolder)
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

}  // namespace installer
