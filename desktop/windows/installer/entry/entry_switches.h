#ifndef DESKTOP_WINDOWS_INSTALLER_ENTRY_ENTRY_SWITCHES_H_
#define DESKTOP_WINDOWS_INSTALLER_ENTRY_ENTRY_SWITCHES_H_

// The switches the entry reads for itself: help and the front ends'. The
// one-shot roles' switches, which lower layers write, are in
// product/role_switches.h; those that carry the settings, and those the
// runner adds for the backend ("wait-for-package", "crash-reporter-pid"),
// are in settings_switches.h.
namespace installer::switches {

// Help.
inline constexpr char kHelp[] = "help";
inline constexpr char kHelpShort[] = "?";

// Front ends.
inline constexpr char kRunImmediately[] = "runimmediately";
inline constexpr char kServerTrackingBlob[] = "server-tracking-blob";

}  // namespace installer::switches

#endif  // DESKTOP_WINDOWS_INSTALLER_ENTRY_ENTRY_SWITCHES_H_
