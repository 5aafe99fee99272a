#include "desktop/windows/installer/backend/steps/uninstall_survey.h"

#include <windows.h>

#include <string>
#include <vector>

#include "base/command_line.h"
#include "base/files/file_path.h"
#include "base/logging.h"
#include "base/path_service.h"
#include "base/strings/string_split.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/windows_version.h"
#include "base/win/wmi.h"
#include "desktop/common/autoupdate/updatechecker/global_storage.h"
#include "desktop/windows/installer/backend/installer_process_switches.h"
#include "desktop/windows/installer/product/branding.h"
#include "desktop/windows/installer/product/installer_version.h"
#include "desktop/windows/installer/product_environment/folder_product_environment.h"
#include "desktop/windows/installer/settings/settings_switches.h"
#include "desktop/windows/installer/settings/status.h"
#include "desktop/windows/installer/system/utils.h"

namespace installer {

namespace {

constexpr char kUuidName[] = "UUID";

}  // namespace

UninstallSurvey::UninstallSurvey(Installer* installer)
    : InstallerPart(installer) {}

void UninstallSurvey::ShowUninstallSurvey() {
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
std::wstring UninstallSurvey::MakeSurveyCommandLine(
    const base::FilePath& browser,
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

}  // namespace installer
