#include "desktop/windows/installer/entry/folder_permission_role.h"

#include <windows.h>

#include <iterator>
#include <memory>
#include <optional>
#include <string>

#include "base/command_line.h"
#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/path_service.h"
#include "base/process/launch.h"
#include "base/process/process.h"
#include "base/process/process_info.h"
#include "base/strings/string_number_conversions.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/backend/steps/cleanup_batch.h"
#include "desktop/windows/installer/backend/steps/remover_copy.h"
#include "desktop/windows/installer/entry/folder_grant.h"
#include "desktop/windows/installer/entry/installer_log.h"
#include "desktop/windows/installer/package_fetcher/downloaded_version_check.h"
#include "desktop/windows/installer/paths/local_path.h"
#include "desktop/windows/installer/product/installer_object_names.h"
#include "desktop/windows/installer/product/package_file_names.h"
#include "desktop/windows/installer/product/role_switches.h"
#include "desktop/windows/installer/settings/package_acceptance.h"
#include "desktop/windows/installer/settings/settings_switches.h"
#include "desktop/windows/installer/signing/build_publisher.h"
#include "desktop/windows/installer/signing/signature_refusal.h"
#include "desktop/windows/installer/signing/signed_program_launcher.h"
#include "desktop/windows/installer/system/machine_install_record.h"
#include "desktop/windows/installer/testing/test_hooks.h"

namespace installer {

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

base::win::ScopedHandle OpenNamedEvent(const std::wstring& name, DWORD access) {
  return base::win::ScopedHandle(::OpenEventW(access, FALSE, name.c_str()));
}

// The process that asked for this role, whose end means that nobody will
// ever signal the undo event: the one that started this process, else the
// front end of "initial-pid". Invalid when neither is found.
base::win::ScopedHandle OpenRequestingProcess(
    const base::CommandLine& command_line) {
  const DWORD parent_id = base::GetParentProcessId(::GetCurrentProcess());
  if (parent_id != 0) {
    base::win::ScopedHandle parent = RemoverCopy::OpenOlderProcess(parent_id);
    if (parent.IsValid())
      return parent;
  }
  uint32_t initial_pid = 0;
  if (base::WideStringToUint(
          command_line.GetSwitchValueNative(switches::kInitialPid),
          &initial_pid) &&
      initial_pid != 0) {
    return RemoverCopy::OpenOlderProcess(initial_pid);
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

// Grants the user full access to the folder and, unless the grant is to
// stay, undoes it once the requester signals the undo event, or at once
// when the requester ends without doing so.
void GrantFolderPermission(const base::CommandLine& command_line,
                           const base::FilePath& folder) {
  const InstallerObjectNames names(folder);
  base::win::ScopedHandle give_event =
      OpenNamedEvent(names.give_permission_event(), EVENT_ALL_ACCESS);
  if (!give_event.IsValid())
    return;
  base::win::ScopedHandle undo_event =
      OpenNamedEvent(names.undo_permission_event(), EVENT_ALL_ACCESS);
  if (!undo_event.IsValid())
    return;
  const base::win::ScopedHandle requester =
      OpenRequestingProcess(command_line);
  FolderGrant grant(
      folder, command_line.GetSwitchValueNative(switches::kPermissionsForUser));
  if (!grant.Grant())
    return;

  if (command_line.HasSwitch(switches::kPermanentPermissions)) {
    ::SetEvent(give_event.Get());
    return;
  }
  const bool undo_asked =
      ::SetEvent(give_event.Get()) &&
      WaitForEventOrProcessEnd(undo_event.Get(), requester.Get());
  // The names go with their last handle: the folder's next run makes them
  // new, and refuses them while they are still here.
  give_event.Close();
  undo_event.Close();
  if (undo_asked)
    ::Sleep(kUndoDelayMs);
  grant.Undo();
}

// Whether the package of `installer`, held, may go into `folder`: its
// version is asked of the held files, which no writer can change before
// the installer starts.
bool AcceptsPackage(const base::FilePath& installer,
                    const base::FilePath& folder) {
  std::string version;
  SignatureRefusal signature = SignatureRefusal::kNone;
  const VersionCheck check =
      CheckDownloadedVersion(installer, DownloadedProgram::kPackageInstaller,
                             nullptr, &version, &signature);
  if (check != VersionCheck::kPassed) {
    LOG(ERROR) << "Not running " << installer.AsUTF8() << ": "
               << (check == VersionCheck::kSignatureRefused
                       ? DescribeSignatureRefusal(signature)
                       : "its version");
    return false;
  }
  const std::optional<PackageAcceptance::Refusal> refusal =
      PackageAcceptance::JudgeFolder(version, folder);
  if (refusal)
    LOG(ERROR) << "Not running " << installer.AsUTF8() << ": "
               << refusal->diagnostic;
  return !refusal;
}

// The package's installer runs elevated, so only the publisher's signed one
// may run with the publisher's signed library (of another release, perhaps
// signed with a renewed certificate: a signer of the expected name under the
// publisher's roots, its whole signature checked), also from a development
// build, which runs any other file; both are held against writers from the
// check until it has started, the folders on the installer's path too, and
// it runs only as the image it was checked as, so that nothing can be
// swapped in between.
// While it runs, this process ends with its own requester, which tells the
// package's installer that nobody is left to ask for the undo.
void RunPackageInstaller(const base::CommandLine& command_line,
                         const base::FilePath& installer,
                         const base::FilePath& folder) {
  SignedProgramLauncher launcher(
      {BuildPublisher::RequiredSigner(), &BuildPublisher::Roots()});
  if (!launcher.Hold(installer,
                     SignedProgramLauncher::Files::kProgramAndLibrary,
                     SignedProgramLauncher::Identity::kPublisher) ||
      !AcceptsPackage(installer, folder)) {
    return;
  }
  base::CommandLine package_command_line(installer);
  package_command_line.CopySelectedSwitches(
      command_line, kPackageInstallerSwitches,
      std::size(kPackageInstallerSwitches));
  TestHooks::OnRolePoint(TestHooks::RolePoint::kPackageInstallerStart);
  const base::Process process =
      launcher.Launch(package_command_line, base::ProcessLaunchOptions());
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
      command_line,
      command_line.GetSwitchValuePath(switches::kWaitForPackage)
          .Append(kPackageInstallerName),
      folder);
}

// Whether `folder` is, with no link on the way, an installation folder that
// the machine's own record names, and this process's program lies inside
// it (its final path: a link to the program from elsewhere is no copy).
bool IsRecordedInstallationsOwnInstaller(const base::FilePath& folder) {
  const base::FilePath resolved = ResolveLocalPath(folder);
  base::FilePath program;
  if (resolved.empty() || !base::GetPathForKey(base::kExeFile, &program))
    return false;
  const base::FilePath final_folder = ResolveFinalLocalPath(resolved);
  const base::FilePath final_program = ResolveFinalLocalPath(program);
  if (!MachineInstallRecord::Read().Names(resolved) ||
      ToUpperOrdinal(final_folder.value()) != ToUpperOrdinal(resolved.value()) ||
      !IsBelowFolder(final_program, resolved)) {
    LOG(ERROR) << "Not running the uninstall batch of " << folder.AsUTF8()
               << ": it is not the recorded installation folder of "
               << final_program.AsUTF8();
    return false;
  }
  return true;
}

}  // namespace

void SetFolderPermission() {
  const base::CommandLine& command_line = GetProcessCommandLine();
  if (!command_line.HasSwitch(switches::kPermissionsForUser))
    return;
  // What it grants, and why it refuses, is kept where every installer
  // process keeps its log.
  InitInstallerLogging(command_line);
  const base::FilePath folder =
      command_line.GetSwitchValuePath(switches::kSetFolderPermission);
  if (command_line.HasSwitch(switches::kWaitForPackage))
    GrantFolderPermissionFromPackage(command_line, folder);
  else
    GrantFolderPermission(command_line, folder);
}

void RunUninstallBatch(const base::FilePath& folder) {
  // Into the installer's own log, also without a user to grant to: the
  // default log file lies beside the program, in a folder anyone may have
  // made for it.
  InitInstallerLogging(GetProcessCommandLine());
  // This process is elevated and anyone can copy the signed installer next
  // to a batch file of their own: only the installer inside the folder that
  // the machine's own record names runs that folder's batch.
  if (!IsRecordedInstallationsOwnInstaller(folder))
    return;
  const base::FilePath batch = folder.Append(kUninstallBatchName);
  // The record was written by a process that is not elevated, in a folder
  // that was writable to it: nothing runs it, and the copy judges each of
  // its entries again.
  if (!base::PathExists(batch) || !CleanupBatch::TakeOver(batch, folder))
    return;
  const std::optional<CleanupBatch::Contents> contents =
      CleanupBatch::Read(batch, folder);
  // This process runs from inside the folder too: its copy, in a folder
  // only the administrators may write, waits for it and the uninstaller.
  if (contents &&
      !RemoverCopy::Start(folder, PrivateTempFolder::Owners::kAdministrators,
                          contents->process_ids)) {
    LOG(ERROR) << "The uninstallation's leftovers stay in " << folder.AsUTF8();
  }
}

}  // namespace installer
