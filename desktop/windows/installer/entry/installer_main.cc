#include "desktop/windows/installer/entry/installer_main.h"

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "base/command_line.h"
#include "base/exit_callback_stack.h"
#include "base/features/feature_list.h"
#include "base/features/feature_tables.h"
#include "base/files/file_path.h"
#include "base/logging.h"
#include "base/path_service.h"
#include "base/process/launch.h"
#include "base/process/suspended_child.h"
#include "base/threading/lock.h"
#include "base/win/scoped_com_initializer.h"
#include "desktop/windows/crash_reporter/crash_reporting.h"
#include "desktop/windows/installer/backend/steps/leftover_remover.h"
#include "desktop/windows/installer/backend/steps/private_folder_owners.h"
#include "desktop/windows/installer/backend/steps/unfinished_uninstallation.h"
#include "desktop/windows/installer/entry/console_output.h"
#include "desktop/windows/installer/entry/entry_switches.h"
#include "desktop/windows/installer/entry/folder_permission_role.h"
#include "desktop/windows/installer/entry/help_printer.h"
#include "desktop/windows/installer/entry/installer_log.h"
#include "desktop/windows/installer/entry/installer_process.h"
#include "desktop/windows/installer/entry/installer_result.h"
#include "desktop/windows/installer/product/branding.h"
#include "desktop/windows/installer/product/installer_version.h"
#include "desktop/windows/installer/product/role_switches.h"
#include "desktop/windows/installer/product_environment/product_environment.h"
#include "desktop/windows/installer/recovery/interrupted_run_recovery.h"
#include "desktop/windows/installer/settings/may_run_elevated.h"
#include "desktop/windows/installer/settings/settings_switches.h"
#include "desktop/windows/installer/signing/signed_program_launcher.h"
#include "desktop/windows/installer/testing/test_hooks.h"

namespace installer {

namespace {

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
  if (const std::optional<uint32_t> wait_ms = TestHooks::CrashReportingWaitMs())
    internal::SetCrashReportingWaitsForTesting(*wait_ms, *wait_ms);
  DisableUserModeExceptionFilterBit();
  StartCrashReporter();
  ConnectCrashHandler();
  SetInstallerCrashKeys();
}

// An uninstallation that died set the product's files aside: the folder
// must be whole again before anything tells from them whether it holds an
// installation, the product environment first. One whose last step died
// left this uninstaller with its record of leftovers: run again, it has a
// new copy of itself finish, and true says the run is done.
bool RecoverUninstallerFolder(const base::CommandLine& command_line) {
  base::FilePath own_folder;
  if (!command_line.HasSwitch(switches::kUninstall) ||
      command_line.HasSwitch(switches::kBackend) ||
      !base::GetPathForKey(base::kExeDir, &own_folder)) {
    return false;
  }
  // Into the installer's log from here on: the default log file would be
  // written into the folder being recovered.
  InitInstallerLogging(command_line);
  // What it could not undo stays for the folder's status, whose own
  // recovery meets it again and ends the run with the file's name.
  const InterruptedRunRecovery::Outcome outcome =
      InterruptedRunRecovery::RecoverFolder(own_folder.DirName());
  if (!outcome.complete()) {
    LOG(ERROR) << "The uninstaller's folder is not whole again yet";
    return false;
  }
  return UnfinishedUninstallation::Resume(own_folder.DirName(),
                                          GetPrivateFolderOwners(false));
}

// A process that may run elevated and proves its own program more than once
// keeps it held from its start, so that the program is read once: a front
// end starts its crash reporter and then its backend from it, held until
// the backend has started (InstallerRunner); a backend that waits for a
// temporary package starts its crash reporter from it and then checks it
// as the package it unpacks, held until then (InstallerPackageWait).
bool KeepsRunningProgramHeld(const base::CommandLine& command_line) {
  if (command_line.HasSwitch(switches::kUninstall) ||
      command_line.HasSwitch(switches::kSetFolderPermission) ||
      !MayRunElevated()) {
    return false;
  }
  return !command_line.HasSwitch(switches::kBackend) ||
         (command_line.HasSwitch(switches::kWaitForPackage) &&
          command_line.HasSwitch(switches::kTemporaryPackage));
}

uint8_t RunRole(const base::CommandLine& command_line) {
  if (command_line.HasSwitch(switches::kCrashReporterParentId)) {
    RunCrashReporterRole(command_line);
    return kInstallerSucceeded;
  }
  // Before crash reporting, whose reporter would run from the copy's folder
  // and keep it from being removed.
  if (command_line.HasSwitch(switches::kRemoveLeftovers)) {
    InitInstallerLogging(command_line);
    LeftoverRemover::RunRole(command_line);
    return kInstallerSucceeded;
  }
  if (KeepsRunningProgramHeld(command_line))
    SignedProgramLauncher::KeepRunningProgramHeld();
  StartCrashReporting();
  base::RegisterInstallerFeatures(GetUserAgentName(),
                                  base::FeatureList::GetInstance());
  if (RecoverUninstallerFolder(command_line))
    return kInstallerSucceeded;
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

uint8_t RunRoleWithCom(const base::CommandLine& command_line) {
  // Exit callbacks run last, after COM is gone and every object of the
  // role is destroyed.
  base::ExitCallbackStack exit_callbacks;
  base::win::ScopedCOMInitializer com;
  return RunRole(command_line);
}

}  // namespace

uint8_t RunInstaller() {
  base::CommandLine::Init();
  const base::CommandLine& command_line =
      *base::CommandLine::ForCurrentProcess();
  if (PrintRequestedValue(command_line))
    return kInstallerSucceeded;
  const uint8_t result = RunRoleWithCom(command_line);
  // The process ends as this returns: not while its crash reporter, started
  // on a thread of its own, is half-way through its start, and not leaving
  // a child it holds suspended to wait for good.
  base::GetChildStartLock().Acquire();
  base::SuspendedChild::EndAllForGood();
  return result;
}

}  // namespace installer
