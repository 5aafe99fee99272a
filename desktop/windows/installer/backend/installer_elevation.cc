// Both elevations go through the shell's "runas" verb, which shows the UAC
// prompt; a refused prompt makes the shell call fail. The shell starts a
// program by name, and this one may run from a folder its user writes
// (Downloads, as a rule), where the user can rename it, or a folder above
// it, and put another under its name, another release's genuinely signed
// pair too: only the file shown to be the running build is started, by its
// pinned path, the file and every folder on that path held until it has.
// The shell starts nothing suspended and an unelevated process may not read
// an elevated one: what it started is proven by the file its image came
// from, or refused.

#include "desktop/windows/installer/backend/installer_elevation.h"

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>
#include <shellapi.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "base/command_line.h"
#include "base/log_message.h"
#include "base/logging.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/access_list.h"
#include "base/win/registry.h"
#include "base/win/scoped_local_alloc.h"
#include "base/win/windows_version.h"
#include "desktop/windows/crash_reporter/crash_reporting.h"
#include "desktop/windows/installer/backend/installer.h"
#include "desktop/windows/installer/backend/installer_package_wait.h"
#include "desktop/windows/installer/backend/installer_process_switches.h"
#include "desktop/windows/installer/backend/run_state.h"
#include "desktop/windows/installer/backend/steps/post_install_tasks.h"
#include "desktop/windows/installer/ipc/installer_observer.h"
#include "desktop/windows/installer/product/installer_object_names.h"
#include "desktop/windows/installer/product/role_switches.h"
#include "desktop/windows/installer/settings/settings.h"
#include "desktop/windows/installer/settings/settings_switches.h"
#include "desktop/windows/installer/settings/status.h"
#include "desktop/windows/installer/signing/signed_program_launcher.h"
#include "desktop/windows/installer/system/utils.h"

namespace installer {

namespace {

// What an elevated process that is not the program checked ends with.
constexpr UINT kChangedProgramExitCode = 1;

constexpr wchar_t kPoliciesSystemKey[] =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Policies\\System";

std::atomic<InstallerElevation::ShellExecuteFunction>
    g_shell_execute_for_testing{nullptr};

struct SidFreer {
  void operator()(void* sid) const { FreeSid(sid); }
};
using ScopedSid = std::unique_ptr<void, SidFreer>;

// The current user's SID as text ("S-1-5-21-..."). The permission process
// runs elevated, possibly as another (administrator) account, where a bare
// logon name may name nobody or somebody else; a SID names this user
// everywhere.
bool GetCurrentUserSidString(std::wstring* sid_string) {
  HANDLE token_handle = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token_handle)) {
    PLOG(ERROR) << "OpenProcessToken failed";
    return false;
  }
  const base::win::ScopedHandle token(token_handle);
  DWORD size = 0;
  GetTokenInformation(token.Get(), TokenUser, nullptr, 0, &size);
  if (size == 0) {
    PLOG(ERROR) << "GetTokenInformation failed";
    return false;
  }
  std::vector<uint8_t> buffer(size);
  if (!GetTokenInformation(token.Get(), TokenUser, buffer.data(), size,
                           &size)) {
    PLOG(ERROR) << "GetTokenInformation failed";
    return false;
  }
  const auto* user = reinterpret_cast<const TOKEN_USER*>(buffer.data());
  base::win::ScopedLocalAlloc<wchar_t> text;
  if (!ConvertSidToStringSidW(user->User.Sid, text.Receive())) {
    PLOG(ERROR) << "ConvertSidToStringSidW failed";
    return false;
  }
  *sid_string = text.Get();
  return true;
}

// Before Vista, an event that an elevated process must open needs an
// explicit entry for the Administrators group.
bool FixEventACL(HANDLE event) {
  PACL old_dacl = nullptr;
  base::win::ScopedLocalAlloc<void> descriptor;
  DWORD error = GetSecurityInfo(event, SE_KERNEL_OBJECT,
                                DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                &old_dacl, nullptr, descriptor.Receive());
  if (error != ERROR_SUCCESS) {
    LOG(ERROR) << "FixEventACL: failed to GetSecurityInfo " << error;
    return false;
  }
  SID_IDENTIFIER_AUTHORITY nt_authority = SECURITY_NT_AUTHORITY;
  PSID admins = nullptr;
  if (!AllocateAndInitializeSid(&nt_authority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                &admins)) {
    PLOG(ERROR) << "FixEventACL: failed to AllocateAndInitializeSid";
    return false;
  }
  const ScopedSid owned_admins(admins);
  const base::win::ScopedLocalAlloc<ACL> new_dacl =
      base::win::AddAccessAllowedEntry(old_dacl, admins, GENERIC_ALL,
                                       NO_INHERITANCE);
  if (!new_dacl) {
    LOG(ERROR) << "FixEventACL: failed to SetEntriesInAcl";
    return false;
  }
  if (SetSecurityInfo(event, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION,
                      nullptr, nullptr, new_dacl.Get(), nullptr) !=
      ERROR_SUCCESS) {
    LOG(ERROR) << "FixEventACL: failed to SetSecurityInfo";
    return false;
  }
  return true;
}

// A new auto-reset event. One that exists already was made by another
// process, which could signal a grant that never happened or take the
// undo away: invalid then, and the run does not ask for the grant.
base::win::ScopedHandle CreatePermissionEvent(const std::wstring& name) {
  base::win::ScopedHandle event(
      CreateEventW(nullptr, FALSE, FALSE, name.c_str()));
  if (!event.IsValid()) {
    PLOG(ERROR) << "Failed to create the permission event "
                << base::WideToUtf8(name);
  } else if (GetLastError() == ERROR_ALREADY_EXISTS) {
    LOG(ERROR) << "The permission event " << base::WideToUtf8(name)
               << " was made by another process";
    event.Close();
  }
  return event;
}

// The pair of events through which the elevated process says it has given
// the access, and is told to take it back.
bool CreatePermissionEvents(const InstallerObjectNames& names,
                            base::win::ScopedHandle* give_event,
                            base::win::ScopedHandle* undo_event) {
  *give_event = CreatePermissionEvent(names.give_permission_event());
  if (!give_event->IsValid())
    return false;
  *undo_event = CreatePermissionEvent(names.undo_permission_event());
  if (!undo_event->IsValid())
    return false;
  return base::win::GetWindowsVersion() >= base::win::kVersionVista ||
         (FixEventACL(give_event->Get()) && FixEventACL(undo_event->Get()));
}

}  // namespace

InstallerElevation::InstallerElevation(Installer* installer)
    : InstallerPart(installer) {}

// static
InstallerElevation::ShellExecuteFunction
InstallerElevation::SetShellExecuteForTesting(ShellExecuteFunction function) {
  return g_shell_execute_for_testing.exchange(function);
}

// static
bool InstallerElevation::RunShellExecute(SHELLEXECUTEINFOW* info) {
  ShellExecuteFunction shell_execute = g_shell_execute_for_testing.load();
  return shell_execute ? shell_execute(info) : ShellExecuteExW(info);
}

bool InstallerElevation::CanElevate() {
  if (IsUserAdmin(true))
    return true;
  if (base::win::GetWindowsVersion() < base::win::kVersionVista)
    return true;
  base::win::RegistryKey policies;
  DWORD enable_lua = 1;
  return !(policies.Open(HKEY_LOCAL_MACHINE, kPoliciesSystemKey,
                         KEY_QUERY_VALUE) == ERROR_SUCCESS &&
           policies.ReadDword(L"EnableLUA", &enable_lua) == ERROR_SUCCESS &&
           enable_lua == 0);
}

InstallerElevation::Result InstallerElevation::RunOwnProgramElevated(
    const base::CommandLine& arguments,
    base::win::ScopedHandle* process) {
  SignedProgramLauncher own_program;
  if (!own_program.HoldRunningProgram()) {
    if (own_program.refused_for_folder()) {
      LOG(ERROR) << "Not running the installer elevated: its path does not "
                    "lead to its file alone from its folder";
      return kProgramFolderRefused;
    }
    LOG(ERROR) << "Not running the installer elevated: its file is no longer "
                  "the program that runs";
    return kElevationSetupError;
  }
  const std::wstring program = own_program.pinned_program_path();
  // The shell reads the path by the system's rules: just before, it must
  // still open the file held.
  if (const DWORD error = own_program.VerifyPinnedPath()) {
    LOG(ERROR) << "Not running the installer elevated: "
               << base::WideToUtf8(program)
               << " no longer opens its file: "
               << base::SystemErrorCodeToString(error);
    return kProgramFolderRefused;
  }
  const std::wstring parameters = arguments.GetArgumentsString();
  SHELLEXECUTEINFOW info = {};
  info.cbSize = sizeof(info);
  // Returns once the process is made: its image is mapped from the held
  // file by then, which `own_program` lets go, with its path, on return.
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC;
  info.lpVerb = L"runas";
  info.lpFile = program.c_str();
  info.lpParameters = parameters.c_str();
  info.nShow = SW_SHOW;
  if (!RunShellExecute(&info) || !info.hProcess) {
    PLOG(ERROR) << "Failed to run the elevated process";
    return kElevationImpossible;
  }
  process->Set(info.hProcess);
  // The shell starts nothing suspended: the process runs already, with
  // every right the user's consent gave it. A start not proven to be the
  // held program is ended (where the handle allows) and refused.
  std::string unproven;
  if (!own_program.ProveRunningProgram(process->Get(), &unproven)) {
    LOG(ERROR) << "Ending the elevated process: " << base::WideToUtf8(program)
               << " is not proven to have started the program checked ("
               << unproven << ")";
    if (!::TerminateProcess(process->Get(), kChangedProgramExitCode))
      PLOG(ERROR) << "Could not end the elevated process";
    process->Close();
    return kProgramFolderRefused;
  }
  return kElevatedDone;
}

InstallerElevation::Result InstallerElevation::RelaunchElevated() {
  LOG(INFO) << "Running the installer elevated.";
  if (!CanElevate()) {
    LOG(ERROR) << "Cannot elevate with UAC disabled";
    return kElevationImpossible;
  }
  const base::CommandLine& own = GetProcessCommandLine();
  if (own.HasSwitch(switches::kRunElevated)) {
    LOG(ERROR) << "This process should already be elevated, but isn't.";
    return kElevationImpossible;
  }
  base::CommandLine command_line(base::CommandLine::NO_PROGRAM);
  run_.settings->ToCommandLine(&command_line, true);
  command_line.AppendSwitchASCII(switches::kParentPid,
                                 std::to_string(GetCurrentProcessId()));
  const bool wait_for_package = own.HasSwitch(switches::kWaitForPackage);
  if (wait_for_package) {
    command_line.AppendSwitchNative(
        switches::kWaitForPackage,
        own.GetSwitchValueNative(switches::kWaitForPackage));
  }
  command_line.AppendSwitch(switches::kRunElevated);

  for (InstallerObserver& observer : run_.observers)
    observer.OnStartingNewMainProcess(false);
  base::win::ScopedHandle process;
  const Result started = RunOwnProgramElevated(command_line, &process);
  // Held since this process began; the elevated process unpacks the
  // package, and its installer may set the program aside.
  SignedProgramLauncher::LetRunningProgramGo();
  if (started != kElevatedDone)
    return started;
  const DWORD wait = WaitForSingleObject(process.Get(), INFINITE);
  for (InstallerObserver& observer : run_.observers)
    observer.OnReturnedToPreviousMainProcess();
  if (wait == WAIT_FAILED) {
    PLOG(ERROR) << "Failed wait for the elevated installer";
    return kElevatedProcessFailed;
  }
  if (wait != WAIT_OBJECT_0) {
    LOG(ERROR) << "Unexpected result when waiting for the elevated installer";
    return kElevatedProcessFailed;
  }
  DWORD exit_code = 1;
  if (!GetExitCodeProcess(process.Get(), &exit_code) || exit_code != 0)
    return kElevatedProcessFailed;
  if (wait_for_package) {
    package_wait().WaitForPackage(true);
    return kRunContinuesInPackageWait;
  }
  post_install_tasks().RunPostElevationTasks();
  return kElevatedDone;
}

InstallerElevation::Result InstallerElevation::GrantFolderPermissionElevated(
    const base::FilePath& folder,
    bool permanent) {
  LOG(INFO) << "Running an elevated process to give us permissions on the "
               "installation folder "
            << (permanent ? "permanently" : "temporarily");
  if (!CanElevate()) {
    LOG(ERROR) << "Cannot elevate with UAC disabled";
    return kElevationImpossible;
  }
  base::CommandLine command_line(base::CommandLine::NO_PROGRAM);
  if (!MakePermissionCommandLine(folder, permanent, &command_line))
    return kElevationSetupError;
  base::win::ScopedHandle give_event;
  base::win::ScopedHandle undo_event;
  if (!CreatePermissionEvents(InstallerObjectNames(folder), &give_event,
                              &undo_event)) {
    return kElevationSetupError;
  }

  base::win::ScopedHandle process;
  if (const Result started = RunOwnProgramElevated(command_line, &process);
      started != kElevatedDone) {
    return started;
  }
  // The event first: a permanent grant's process signals and ends at once,
  // and of two signalled handles the wait names the first.
  const HANDLE handles[] = {give_event.Get(), process.Get()};
  if (WaitForMultipleObjects(2, handles, FALSE, INFINITE) != WAIT_OBJECT_0) {
    PLOG(ERROR) << "Failed to run the elevated process";
    return kElevatedProcessFailed;
  }
  run_.permission_undo_event = std::move(undo_event);
  run_.second_process_id = GetProcessId(process.Get());
  return kElevatedDone;
}

bool InstallerElevation::MakePermissionCommandLine(
    const base::FilePath& folder,
    bool permanent,
    base::CommandLine* command_line) {
  std::wstring user_sid;
  if (!GetCurrentUserSidString(&user_sid)) {
    LOG(ERROR) << "Failed to obtain user SID";
    return false;
  }
  VLOG(1) << "User SID is " << base::WideToUtf8(user_sid);
  const base::CommandLine& own = GetProcessCommandLine();
  command_line->AppendSwitchPath(switches::kSetFolderPermission, folder);
  command_line->AppendSwitchNative(switches::kPermissionsForUser, user_sid);
  if (permanent)
    command_line->AppendSwitch(switches::kPermanentPermissions);
  if (run_.settings->operation() == Settings::kUninstalling)
    command_line->AppendSwitch(switches::kRunUninstallBat);
  if (const uint32_t crash_reporter_pid = CrashReporterPidForChild()) {
    command_line->AppendSwitchASCII(switches::kCrashReporterPid,
                                    std::to_string(crash_reporter_pid));
  }
  if (own.HasSwitch(switches::kWaitForPackage)) {
    command_line->AppendSwitchNative(
        switches::kWaitForPackage,
        own.GetSwitchValueNative(switches::kWaitForPackage));
  }
  command_line->AppendSwitchNative(
      switches::kInitialPid, own.GetSwitchValueNative(switches::kInitialPid));
  return true;
}

}  // namespace installer
