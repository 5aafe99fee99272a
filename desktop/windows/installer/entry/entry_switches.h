#ifndef DESKTOP_WINDOWS_INSTALLER_ENTRY_ENTRY_SWITCHES_H_
#define DESKTOP_WINDOWS_INSTALLER_ENTRY_ENTRY_SWITCHES_H_

// The switches of the entry's roles: read by the entry and its one-shot
// roles, and written by whoever starts such a role (the step machine its
// permission process, crash reporting its reporter). Those that carry the
// settings, and those the runner adds for the backend ("wait-for-package",
// "crash-reporter-pid"), are in settings_switches.h.
namespace installer::switches {

// Print roles.
inline constexpr char kVersion[] = "version";
inline constexpr char kInternalVersion[] = "internal-version";
inline constexpr char kStream[] = "stream";

// Crash reporting.
inline constexpr char kCrashReporterParentId[] = "crash-reporter-parent-id";
inline constexpr char kCrashReporterExceptionInfo[] =
    "crash-reporter-exception-info";

// Help.
inline constexpr char kHelp[] = "help";
inline constexpr char kHelpShort[] = "?";

// The folder-permission role.
inline constexpr char kSetFolderPermission[] = "set-folder-permission";
inline constexpr char kRunUninstallBat[] = "run-uninstall-bat";
inline constexpr char kPermissionsForUser[] = "permissions-for-user";
inline constexpr char kPermanentPermissions[] = "permanent-permissions";

// Front ends.
inline constexpr char kRunImmediately[] = "runimmediately";
inline constexpr char kServerTrackingBlob[] = "server-tracking-blob";

}  // namespace installer::switches

#endif  // DESKTOP_WINDOWS_INSTALLER_ENTRY_ENTRY_SWITCHES_H_
