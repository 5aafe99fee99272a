#ifndef DESKTOP_WINDOWS_INSTALLER_INSTALLER_MAIN_H_
#define DESKTOP_WINDOWS_INSTALLER_INSTALLER_MAIN_H_

#include <cstdint>

namespace base {
class CommandLine;
class FilePath;
}  // namespace base

namespace installer {

// The whole run of an installer process, on its main thread: reads the
// process's command line, picks the process's role (print a value, crash
// reporter, help, folder permission, backend, silent or interactive front
// end), sets up the process-wide services, runs the role and takes the
// services down again. Returns kInstallerSucceeded or kInstallerFailed
// (installer_result.h says what the host makes of them).
uint8_t RunInstaller();

// The installer's own log file: "<product>_installer_<YYYYMMDDhhmmss>_<pid>
// .log" in the "<Product> Installer" folder of the temporary directory, or
// the bare name (relative to the current directory) when that folder is not
// available. The process id keeps apart the logs of installer processes
// that start within the same second.
base::FilePath GetLogFilePath();

// An autoupdate started by the former product version T12 passes the
// installation folder as the last token of its command line: that token
// when it is an absolute path, else an empty path.
base::FilePath RecoverInstallFolderFromCommandLine(
    const base::CommandLine& command_line);

// The elevated side of the folder-permission exchange (switch
// "set-folder-permission"): grants the user of "permissions-for-user" full
// access to the folder and keeps the grant until the process that asked
// for it says so or ends; or, with "wait-for-package", waits for the
// package and runs the package's verified installer in this role. Reports
// nothing; every failure simply ends it.
void SetFolderPermission();

// Runs "k.bat" of `folder`, when it has one, and waits until it ends.
void RunUninstallBatch(const base::FilePath& folder);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_INSTALLER_MAIN_H_
