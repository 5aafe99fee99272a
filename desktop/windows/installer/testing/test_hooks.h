#ifndef DESKTOP_WINDOWS_INSTALLER_TESTING_TEST_HOOKS_H_
#define DESKTOP_WINDOWS_INSTALLER_TESTING_TEST_HOOKS_H_

#include <cstddef>
#include <cstdint>
#include <optional>

namespace installer {

// The points where the end-to-end tests make a real installer process fail,
// crash, hang or end, to see rollback, recovery and crash reporting work on
// the real code. The library that ships links test_hooks_off.cc, where
// every call does nothing; the library the tests run links test_hooks.cc,
// which reads the plan of test_fault_injection.h from the environment. The
// hosts are built alike: the one beside the library the tests run links
// test_hooks.cc too.
// Called on the main thread of a front end or backend.
class TestHooks {
 public:
  // Named points of the process roles.
  enum class RolePoint {
    // The silent front end, its crash handler and reporter up, before its
    // controller starts.
    kSilentFrontEnd,
    // The backend, before it has said anything to its front end.
    kBackend,
    // A dead run's recovery has carried out one more line of its journal
    // (on whichever thread recovers the folder).
    kRecoveryLine,
    // The backend has made one more temporary file in the installation
    // folder (a staged copy, a write's temporary file), before writing it.
    kTemporaryFile,
    // The backend, its package unpacked, before it starts the package's
    // installer.
    kHandOver,
    // The folder probe has copied installer.exe, before it runs the copy.
    kFolderProbe,
    // The front end's fetcher has unpacked a downloaded package, before it
    // runs the package's installer for its version (on the fetcher's
    // thread).
    kVersionCheck,
    // installer.exe has started, before it holds the library beside it:
    // reached in the host of the library the tests run, not in the library.
    kHostStart,
    // installer.exe holds the library beside it, its path pinned and its
    // digest checked, before it loads it (in the host too).
    kHostLoad,
    // The folder-permission role holds the package's installer, checked
    // and asked for its version, before it starts it.
    kPackageInstallerStart,
    // The backend holds the package's installer, checked, before it hands
    // over to it.
    kHandOverStart,
    // The folder probe holds its copy of installer.exe, checked, before it
    // runs it.
    kFolderProbeStart,
    // A front end holds its own program, checked, before it starts it
    // again as the backend.
    kBackendStart,
    // An elevated backend holds the installer file it unpacks the package
    // from, checked and its path pinned, before it reads the package.
    kProtectedUnpack,
    // The installer's copy that removes an uninstallation's leftovers has
    // started, before it waits for the uninstallation's processes; reached
    // again after each entry of the record it deletes.
    kLeftoverRemoval,
    // A package file given the access list of its new folder in the
    // installation, before it is moved there; reached again for each.
    kMovedFile,
    // The installation folder is about to be made where it is missing, and
    // is there (or refused) since; reached so in each place that makes it.
    kInstallFolder,
  };

  TestHooks() = delete;

  // Does not return when the process is to end, hang or crash here;
  // returns once a pause here is over.
  static void OnRolePoint(RolePoint point);
  // Step `index` of the operation's list, named `name`, starts now.
  static void OnStepStarted(size_t index, const char* name);
  // The current step's body is done. True when the run must fail here.
  [[nodiscard]] static bool ShouldFailAfterStep();
  // An operation of the current step succeeded. True when it must be taken
  // as failed.
  [[nodiscard]] static bool ShouldFailOperation();
  // An operation was rolled back.
  static void OnOperationRolledBack();
  // How long crash reporting waits for the reporter it launched to serve
  // and for a crash's dump, where the tests want other than the shipped
  // waits; empty to keep those. Asked before the process opens its log.
  static std::optional<uint32_t> CrashReportingWaitMs();
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_TESTING_TEST_HOOKS_H_
