#ifndef DESKTOP_WINDOWS_INSTALLER_BACKEND_INSTALLER_PROCESS_SWITCHES_H_
#define DESKTOP_WINDOWS_INSTALLER_BACKEND_INSTALLER_PROCESS_SWITCHES_H_

// The switches through which the step machine tells the installer processes
// it starts (an elevated relaunch, the package's installer) what they are.
namespace installer::switches {

// The id of the process that relaunched this one elevated.
inline constexpr char kParentPid[] = "parent-pid";
// This process is the elevated relaunch: it never relaunches again.
inline constexpr char kRunElevated[] = "run-elevated";
// An elevated installer did the installation: only the per-user tasks are
// left.
inline constexpr char kPostElevatedInstallTasks[] =
    "post-elevated-install-tasks";

}  // namespace installer::switches

#endif  // DESKTOP_WINDOWS_INSTALLER_BACKEND_INSTALLER_PROCESS_SWITCHES_H_
