#ifndef DESKTOP_WINDOWS_INSTALLER_PRODUCT_ROLE_SWITCHES_H_
#define DESKTOP_WINDOWS_INSTALLER_PRODUCT_ROLE_SWITCHES_H_

// The switches of the installer's one-shot roles: read by the entry, and
// written by whoever starts such a role from a lower layer (the package
// fetcher asks a package's installer for its version and stream, the step
// machine starts the permission process, crash reporting its reporter).
// The front ends' own switches are in entry/entry_switches.h; those that
// carry the settings, and those the runner adds for the backend, in
// settings_switches.h.
namespace installer::switches {

// Print roles.
inline constexpr char kVersion[] = "version";
inline constexpr char kInternalVersion[] = "internal-version";
inline constexpr char kStream[] = "stream";

// Crash reporting.
inline constexpr char kCrashReporterParentId[] = "crash-reporter-parent-id";
inline constexpr char kCrashReporterExceptionInfo[] =
    "crash-reporter-exception-info";

// The role of the installer's copy that removes an uninstallation's
// leftovers: the installation folder, and the inherited handles of the
// processes to wait for, comma-separated.
inline constexpr char kRemoveLeftovers[] = "remove-leftovers";
inline constexpr char kWaitForProcesses[] = "wait-for-processes";

// The folder-permission role.
inline constexpr char kSetFolderPermission[] = "set-folder-permission";
inline constexpr char kRunUninstallBat[] = "run-uninstall-bat";
inline constexpr char kPermissionsForUser[] = "permissions-for-user";
inline constexpr char kPermanentPermissions[] = "permanent-permissions";

}  // namespace installer::switches

#endif  // DESKTOP_WINDOWS_INSTALLER_PRODUCT_ROLE_SWITCHES_H_
