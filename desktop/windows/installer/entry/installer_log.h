#ifndef DESKTOP_WINDOWS_INSTALLER_ENTRY_INSTALLER_LOG_H_
#define DESKTOP_WINDOWS_INSTALLER_ENTRY_INSTALLER_LOG_H_

namespace base {
class CommandLine;
class FilePath;
}  // namespace base

namespace installer {

// The installer's own log file: "<product>_installer_<YYYYMMDDhhmmss>_<pid>
// .log" in the "<Product> Installer" folder of the temporary directory, or
// the bare name (relative to the current directory) when that folder is not
// available. The process id keeps apart the logs of installer processes
// that start within the same second.
base::FilePath GetLogFilePath();

// Where the log goes on when that file cannot be written (the temporary
// folder's volume is full or lost): the same name in the "<Product>
// Installer" folder of the user's local application data, where the user
// is told to look next; empty when that folder is not known.
base::FilePath GetFallbackLogFilePath(const base::FilePath& log_path);

// Sends this process's log into that file, made new: where the name is
// taken (an earlier process's log, a link), into the first free of
// "<name>_2.log" to "<name>_10.log" beside it, and nowhere when the folder
// is reached through a link. Logs the version and the command line first.
// Once per process: later calls keep the log that was started.
void InitInstallerLogging(const base::CommandLine& command_line);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_ENTRY_INSTALLER_LOG_H_
