#include "desktop/windows/installer/backend/installer_package_wait.h"

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "base/bind.h"
#include "base/command_line.h"
#include "base/current_task_runner_handle.h"
#include "base/location.h"
#include "base/logging.h"
#include "base/path_service.h"
#include "base/process/launch.h"
#include "base/process/process.h"
#include "base/strings/utf_string_conversions.h"
#include "base/threading/lock.h"
#include "desktop/windows/crash_reporter/crash_reporting.h"
#include "desktop/windows/installer/backend/installer.h"
#include "desktop/windows/installer/backend/installer_process_switches.h"
#include "desktop/windows/installer/backend/run_state.h"
#include "desktop/windows/installer/ipc/installer_observer.h"
#include "desktop/windows/installer/package_fetcher/payload_reader.h"
#include "desktop/windows/installer/package_fetcher/protected_package.h"
#include "desktop/windows/installer/product/installer_object_names.h"
#include "desktop/windows/installer/product/installer_string_ids.h"
#include "desktop/windows/installer/product/package_file_names.h"
#include "desktop/windows/installer/product/run_folder_name.h"
#include "desktop/windows/installer/recovery/dead_run_private_folders.h"
#include "desktop/windows/installer/settings/package_acceptance.h"
#include "desktop/windows/installer/settings/settings.h"
#include "desktop/windows/installer/settings/settings_switches.h"
#include "desktop/windows/installer/settings/status.h"
#include "desktop/windows/installer/signing/signature_refusal.h"
#include "desktop/windows/installer/signing/signed_program_launcher.h"
#include "desktop/windows/installer/testing/test_hooks.h"

namespace installer {

namespace {

// The report's failure reason for the refusal of `what`: `changed` when
// the window tells of changed files, else the check that refused it.
std::string RefusalDiagnostic(const RefusedSignature& refused,
                              const char* what,
                              const char* changed) {
  if (RefusalMessage(refused) == kStringPackageChanged)
    return changed;
  return std::string(what) + " was refused: " +
         DescribeSignatureRefusal(refused.refusal) + ".";
}

}  // namespace

InstallerPackageWait::InstallerPackageWait(Installer* installer)
    : InstallerPart(installer) {}

InstallerPackageWait::~InstallerPackageWait() {
  StopWatching();
}

void InstallerPackageWait::StopWatching() {
  package_ready_watcher_.StopWatching();
}

void InstallerPackageWait::WaitForPackage(bool after_elevation) {
  LOG(INFO) << "Need to wait for actual package";
  after_elevation_ = after_elevation;
  const std::wstring name =
      InstallerObjectNames(status()->install_folder).package_ready_event();
  VLOG(1) << "Event name for package_ready: " << base::WideToUtf8(name);
  package_ready_event_.Set(OpenEventW(SYNCHRONIZE, FALSE, name.c_str()));
  if (!package_ready_event_.IsValid()) {
    PLOG(ERROR) << "OpenEventW failed";
    LOG(ERROR) << Fail(kStringInstallerError, std::wstring(),
                       "Failed to open a handle to the package ready event");
    return;
  }
  if (WaitForSingleObject(package_ready_event_.Get(), 0) == WAIT_OBJECT_0) {
    installer_.OnObjectSignaled(package_ready_event_.Get());
    return;
  }
  if (!package_ready_watcher_.StartWatching(package_ready_event_.Get(),
                                            &installer_)) {
    LOG(ERROR) << Fail(kStringInstallerError, std::wstring(),
                       "Failed to watch the package ready event");
    return;
  }
  ReadyPackageCheck();
}

// A package downloaded is of another release as a rule, which the hand-over
// proves to the publisher's roots: what that proof pays once in a process is
// paid while the download lasts, before the package-ready event's task
// runs. The package a full installer carries is of its own build, held to
// its certificate without a chain: nothing to ready.
void InstallerPackageWait::ReadyPackageCheck() {
  base::FilePath program;
  if (!base::GetPathForKey(base::kExeFile, &program) ||
      PayloadReader(program).type() == PayloadReader::kFullPackage) {
    return;
  }
  base::CurrentTaskRunnerHandle::Get()->PostTask(
      FROM_HERE, base::Bind(&SignedProgramLauncher::ReadyPublisherCheck));
}

bool InstallerPackageWait::NeedsProtectedPackage() const {
  const base::CommandLine& own = GetProcessCommandLine();
  // After an elevated installer did the work, this user's own tasks run
  // unelevated from the front end's copy.
  return !after_elevation_ && own.HasSwitch(switches::kTemporaryPackage) &&
         (run_.settings->GetFlag(ALL_USERS_FLAG) ||
          own.HasSwitch(switches::kRunElevated));
}

base::FilePath InstallerPackageWait::UnpackProtected(
    const base::FilePath& front_end_folder,
    ProtectedPackage* package) {
  LOG(INFO) << "Unpacking the package in this process";
  // Raised alone, this backend is the run's first process that may remove
  // what elevated runs that died left.
  DeadRunPrivateFolders::RemoveFromSystemTemp();
  // Where the front end keeps a package it downloaded: beside its folder,
  // under the folder's name.
  const base::FilePath downloaded =
      front_end_folder.DirName().Append(RunFolderName::MakeFetcherFile(
          front_end_folder.BaseName().value(),
          RunFolderName::FetcherFile::kPackage));
  switch (package->Unpack(downloaded)) {
    case ProtectedPackage::Result::kUnpacked:
      ProtectedPackage::CarryRunData(front_end_folder, package->folder());
      return package->folder();
    case ProtectedPackage::Result::kRefused:
      LOG(ERROR) << Fail(RefusalMessage(package->refusal()), std::wstring(),
                         RefusalDiagnostic(
                             package->refusal(),
                             "The installer file or the downloaded package",
                             "The installer file or the downloaded package "
                             "was changed after it was checked."));
      return base::FilePath();
    case ProtectedPackage::Result::kNoPackage:
    case ProtectedPackage::Result::kFailed:
      break;
  }
  LOG(ERROR) << Fail(kStringInstallerError, std::wstring(),
                     "Could not unpack the package for the installation.");
  return base::FilePath();
}

// The front end never learnt the version of a package that this process
// unpacked itself: it is judged here, before its installer runs.
bool InstallerPackageWait::AcceptsProtectedPackage(
    const ProtectedPackage& package) {
  if (package.folder().empty())
    return true;
  const std::optional<PackageAcceptance::Refusal> refusal =
      PackageAcceptance::Judge(package.version(), run_.settings->operation(),
                               status());
  if (!refusal)
    return true;
  LOG(ERROR) << Fail(refusal->message_id, refusal->detail,
                     refusal->diagnostic);
  return false;
}

void InstallerPackageWait::HandOverToPackageInstaller() {
  const base::CommandLine& own = GetProcessCommandLine();
  const base::FilePath front_end_folder =
      own.GetSwitchValuePath(switches::kWaitForPackage);
  // Asked first: the reporter's launch proves this program, which the
  // unpack reads too, and a proof under way would be read again.
  const uint32_t crash_reporter_pid = CrashReporterPidForChild();
  // Its folder goes once the package's installer has ended.
  ProtectedPackage protected_package;
  const base::FilePath package_folder =
      NeedsProtectedPackage()
          ? UnpackProtected(front_end_folder, &protected_package)
          : front_end_folder;
  // Held since this process began, for the unpack's check to find it read;
  // the package's installer may set it aside.
  SignedProgramLauncher::LetRunningProgramGo();
  if (package_folder.empty() || !AcceptsProtectedPackage(protected_package))
    return;
  base::CommandLine command_line(package_folder.Append(kPackageInstallerName));
  run_.settings->ToCommandLine(&command_line, false);
  if (after_elevation_)
    command_line.AppendSwitch(switches::kPostElevatedInstallTasks);
  // A protected package goes too once its installer has ended: its files
  // are moved, each given the access list of its new folder.
  if (own.HasSwitch(switches::kTemporaryPackage))
    command_line.AppendSwitch(switches::kTemporaryPackage);
  if (crash_reporter_pid != 0) {
    command_line.AppendSwitchASCII(switches::kCrashReporterPid,
                                   std::to_string(crash_reporter_pid));
  }
  TestHooks::OnRolePoint(TestHooks::RolePoint::kHandOver);
  // The package folder may be the user's to write: what starts must be what
  // the package's signature vouched for. It is of another release, which
  // the publisher may have signed with a renewed certificate.
  SignedProgramLauncher launcher;
  if (!launcher.Hold(command_line.GetProgram(),
                     SignedProgramLauncher::Files::kProgramAndLibrary,
                     SignedProgramLauncher::Identity::kPublisher)) {
    const RefusedSignature refused = {launcher.refusal(), true};
    LOG(ERROR) << Fail(RefusalMessage(refused), std::wstring(),
                       RefusalDiagnostic(
                           refused, "The package's installer or library",
                           "The package's installer or library was changed "
                           "after the package was checked."));
    return;
  }
  TestHooks::OnRolePoint(TestHooks::RolePoint::kHandOverStart);
  for (InstallerObserver& observer : run_.observers)
    observer.OnStartingNewMainProcess(false);
  // The new main process starts from a released folder.
  installer_.Reset();
  LOG(INFO) << "Running installer from the package with command line: "
            << base::WideToUtf8(command_line.GetCommandLineString());
  base::ProcessLaunchOptions options;
  // It runs from the protected folder: holding the folder's live-run event,
  // it keeps the folder from being taken for a dead run's should this
  // process end first.
  std::vector<HANDLE> inherited;
  if (protected_package.live_run_event()) {
    inherited.push_back(protected_package.live_run_event());
    options.handles_to_inherit = &inherited;
  }
  base::Process process;
  {
    base::AutoLock launch_lock(base::GetProcessLaunchLock());
    process = launcher.Launch(command_line, options);
  }
  if (process.IsValid() && !process.WaitForExit(nullptr))
    PLOG(WARNING) << "Could not wait for the package's installer";
  for (InstallerObserver& observer : run_.observers)
    observer.OnReturnedToPreviousMainProcess();
  if (!process.IsValid() &&
      launcher.refusal() != SignatureRefusal::kNone) {
    // Another image than the one checked was mapped from its path.
    const RefusedSignature refused = {launcher.refusal(), true};
    LOG(ERROR) << Fail(RefusalMessage(refused), std::wstring(),
                       RefusalDiagnostic(
                           refused, "The package's installer",
                           "The package's installer or library was changed "
                           "after the package was checked."));
    return;
  }
  if (!process.IsValid()) {
    LOG(ERROR) << Fail(kStringInstallerError, std::wstring(),
                       "Failed to start installer process from the package "
                       "folder.");
    return;
  }
  DWORD exit_code = 1;
  if (GetExitCodeProcess(process.Handle(), &exit_code) && exit_code == 0) {
    Succeeded();
    return;
  }
  LOG(ERROR) << Fail(kStringInstallerError, std::wstring(),
                     "Installer process did not complete successfully.");
}

}  // namespace installer
