#include "desktop/windows/installer/backend/steps/default_browser_reset.h"

#include <windows.h>

#include <shellapi.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/logging.h"
#include "base/win/registry.h"
#include "base/win/scoped_handle.h"
#include "base/win/windows_version.h"
#include "desktop/windows/installer/backend/installer_elevation.h"
#include "desktop/windows/installer/backend/run_state.h"
#include "desktop/windows/installer/backend/steps/firewall_rule.h"
#include "desktop/windows/installer/backend/steps/uninstall_survey.h"
#include "desktop/windows/installer/paths/local_path.h"
#include "desktop/windows/installer/settings/settings.h"
#include "desktop/windows/installer/settings/status.h"
#include "desktop/windows/installer/shell/association_shell.h"
#include "desktop/windows/installer/shell/system_association_shell.h"
#include "desktop/windows/installer/system/utils.h"

namespace installer {

namespace {

constexpr wchar_t kIeInstallInfoKey[] =
    L"SOFTWARE\\Clients\\StartMenuInternet\\IEXPLORE.EXE\\InstallInfo";

std::wstring KnownFolder(const GUID& folder_id, int csidl) {
  base::FilePath path;
  return GetKnownFolderPath(folder_id, csidl, &path, false) ? path.value()
                                                             : std::wstring();
}

// The system's own folders, as the system tells them: the stored command's
// variables may name no other. An elevated process of the user is given
// the user's environment, where `HKCU\Environment` may set any of them.
std::vector<DefaultBrowserReset::MachineVariable> ReadMachineVariables() {
  wchar_t windows[MAX_PATH] = {};
  const UINT length = ::GetSystemWindowsDirectoryW(windows, MAX_PATH);
  const std::wstring windows_folder =
      length > 0 && length < MAX_PATH ? std::wstring(windows, length)
                                      : std::wstring();
  // This library is 64-bit: its own program files folder is the 64-bit one.
  const std::wstring program_files =
      KnownFolder(FOLDERID_ProgramFiles, CSIDL_PROGRAM_FILES);
  return {
      {L"SystemRoot", windows_folder},
      {L"windir", windows_folder},
      {L"SystemDrive", windows_folder.substr(0, 2)},
      {L"ProgramFiles", program_files},
      {L"ProgramW6432", program_files},
      {L"ProgramFiles(x86)",
       KnownFolder(FOLDERID_ProgramFilesX86, CSIDL_PROGRAM_FILESX86)},
  };
}

// Runs the command the system keeps for making Internet Explorer the
// default browser again; false when there is none or it cannot run.
bool RunIeReinstallCommand() {
  base::win::RegistryKey key;
  std::wstring stored;
  if (key.Open(HKEY_LOCAL_MACHINE, kIeInstallInfoKey, KEY_QUERY_VALUE) !=
          ERROR_SUCCESS ||
      key.ReadStoredString(L"ReinstallCommand", &stored) != ERROR_SUCCESS) {
    return false;
  }
  std::wstring command;
  if (!DefaultBrowserReset::ExpandMachineVariables(
          stored, ReadMachineVariables(), &command)) {
    LOG(ERROR) << "ReinstallCommand names a variable that is not one of the "
                  "system's folders; not run";
    return false;
  }
  std::wstring program;
  std::wstring arguments;
  if (!DefaultBrowserReset::SplitReinstallCommand(command, &program,
                                                  &arguments)) {
    LOG(ERROR) << "Malformed ReinstallCommand";
    return false;
  }
  // Never looked up in the user's search path.
  if (ResolveLocalPath(base::FilePath(program)).empty()) {
    LOG(ERROR) << "ReinstallCommand names no program by its full path; not "
                  "run";
    return false;
  }
  // This library is 64-bit: there is no file-system redirection to turn
  // off around the call. Expanded above: the environment names nothing.
  SHELLEXECUTEINFOW info = {};
  info.cbSize = sizeof(info);
  info.fMask = SEE_MASK_NOCLOSEPROCESS;
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

// static
bool DefaultBrowserReset::ExpandMachineVariables(
    const std::wstring& stored,
    const std::vector<MachineVariable>& variables,
    std::wstring* command) {
  command->clear();
  size_t done = 0;
  for (size_t open = stored.find(L'%'); open != std::wstring::npos;
       open = stored.find(L'%', done)) {
    const size_t close = stored.find(L'%', open + 1);
    if (close == std::wstring::npos)
      break;
    const std::wstring name = stored.substr(open + 1, close - open - 1);
    const auto found = std::find_if(
        variables.begin(), variables.end(), [&name](const MachineVariable& v) {
          return _wcsicmp(v.name, name.c_str()) == 0;
        });
    if (found == variables.end() || found->value.empty())
      return false;
    command->append(stored, done, open - done);
    command->append(found->value);
    done = close + 1;
  }
  command->append(stored, done, std::wstring::npos);
  return true;
}

}  // namespace installer
