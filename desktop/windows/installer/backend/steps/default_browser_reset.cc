#include "desktop/windows/installer/backend/steps/default_browser_reset.h"

#include <windows.h>

#include <shellapi.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <string>

#include "base/files/file_path.h"
#include "base/logging.h"
#include "base/win/registry.h"
#include "base/win/scoped_handle.h"
#include "base/win/windows_version.h"
#include "desktop/windows/installer/backend/installer_elevation.h"
#include "desktop/windows/installer/backend/run_state.h"
#include "desktop/windows/installer/backend/steps/firewall_rule.h"
#include "desktop/windows/installer/backend/steps/uninstall_survey.h"
#include "desktop/windows/installer/settings/settings.h"
#include "desktop/windows/installer/settings/status.h"
#include "desktop/windows/installer/shell/association_shell.h"
#include "desktop/windows/installer/shell/system_association_shell.h"
#include "desktop/windows/installer/system/utils.h"

namespace installer {

namespace {

constexpr wchar_t kIeInstallInfoKey[] =
    L"SOFTWARE\\Clients\\StartMenuInternet\\IEXPLORE.EXE\\InstallInfo";

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
  if (!DefaultBrowserReset::SplitReinstallCommand(command, &program,
                                                  &arguments)) {
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
  if (!InstallerElevation::RunShellExecute(&info)) {
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

DefaultBrowserReset::DefaultBrowserReset(Installer* installer)
    : InstallerPart(installer) {}

void DefaultBrowserReset::ResetDefaultBrowserAndShowSurvey(
    const base::FilePath& install_folder) {
  SendNotifyMessageW(
      HWND_BROADCAST, WM_SETTINGCHANGE, 0,
      reinterpret_cast<LPARAM>(L"Software\\Clients\\StartMenuInternet"));
  SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
  AssociationShell* shell = GetSystemAssociationShell();
  if (!run_.settings->GetFlag(COPY_ONLY)) {
    VLOG(1) << "Attempting to reset the default browser to IE.";
    if (status()->is_http_handler &&
        shell->windows_version() >= base::win::kVersionVista) {
      ResetDefaultBrowserToIe(run_.settings->GetFlag(ALL_USERS_FLAG), shell);
    }
  }
  if (IsUserAdmin(false)) {
    AddFirewallRule(install_folder.Append(status()->install_log.subfolder)
                        .AppendASCII(GetProductExecutableName()),
                    true);
  }
  uninstall_survey().ShowUninstallSurvey();
}

// static
void DefaultBrowserReset::ResetDefaultBrowserToIe(bool all_users,
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

// static
bool DefaultBrowserReset::SplitReinstallCommand(const std::wstring& command,
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

}  // namespace installer
