#ifndef DESKTOP_WINDOWS_INSTALLER_BACKEND_INSTALLER_ELEVATION_H_
#define DESKTOP_WINDOWS_INSTALLER_BACKEND_INSTALLER_ELEVATION_H_

#include <windows.h>

#include <shellapi.h>

#include <cstdint>

#include "base/files/file_path.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/backend/installer_part.h"

namespace base {
class CommandLine;
}

namespace installer {

// The `Installer`'s elevation: relaunching the whole installer elevated, and
// the elevated process that grants this one access to the installation
// folder, which then holds the grant until the run ends. Both start this
// very program, held, through the shell's "runas" verb.
class InstallerElevation : public InstallerPart {
 public:
  // Results of the elevated child processes (`RelaunchElevated`,
  // `GrantFolderPermissionElevated`).
  enum Result : int32_t {
    kElevatedDone = 0,
    // UAC off, already relaunched, or the shell refused (also a refused
    // prompt).
    kElevationImpossible = 1,
    kElevatedProcessFailed = 2,
    kElevationSetupError = 3,
    // The elevated installer succeeded and this process waits for the
    // package: that wait ends the run, which must not be ended again.
    kRunContinuesInPackageWait = 4,
    // The program's path does not lead to its file alone from its folder
    // (a name the system rewrites, another file at the path), or what the
    // shell started is not proven to be it: the installer must be moved.
    kProgramFolderRefused = 5,
  };

  explicit InstallerElevation(Installer* installer);

  bool CanElevate();
  [[nodiscard]] Result RelaunchElevated();
  [[nodiscard]] Result GrantFolderPermissionElevated(
      const base::FilePath& folder,
      bool permanent);

  // Tests only: the shell call behind "runas", which Wine runs without a
  // prompt (so a refused prompt is only seen through this), and behind
  // Internet Explorer's reinstall command. Returns the function it replaces;
  // null restores the system's.
  using ShellExecuteFunction = BOOL(WINAPI*)(SHELLEXECUTEINFOW* info);
  static ShellExecuteFunction SetShellExecuteForTesting(
      ShellExecuteFunction function);
  // ShellExecuteExW, or the function set for testing.
  static bool RunShellExecute(SHELLEXECUTEINFOW* info);

 private:
  // The arguments of the process that grants this user access to
  // `folder`; false when they cannot be made.
  bool MakePermissionCommandLine(const base::FilePath& folder,
                                 bool permanent,
                                 base::CommandLine* command_line);
  // Starts this process's own program elevated with the arguments of
  // `arguments` (its program is not read): the running build's file, held
  // through the start, or none (kElevationSetupError). kElevationImpossible
  // when the shell refuses; kProgramFolderRefused when its pinned path does
  // not open it, or the process started is not proven to be it (ended
  // where its handle allows).
  [[nodiscard]] Result RunOwnProgramElevated(
      const base::CommandLine& arguments,
      base::win::ScopedHandle* process);
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_BACKEND_INSTALLER_ELEVATION_H_
