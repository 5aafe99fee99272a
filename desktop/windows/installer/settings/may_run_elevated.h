#ifndef DESKTOP_WINDOWS_INSTALLER_SETTINGS_MAY_RUN_ELEVATED_H_
#define DESKTOP_WINDOWS_INSTALLER_SETTINGS_MAY_RUN_ELEVATED_H_

namespace installer {

// Whether this process may run above the user whose environment and command
// line it was given (an elevated start passes both on): started for all
// users ("--allusers=1", read as the run's settings read it), or its token
// carries more than a standard user's rights (ProcessElevation: an
// administrator's with or without UAC, the system account's). Such a
// process takes no place from its environment or command line and starts
// nothing from a folder its user writes without holding it. Every role asks
// this one question.
bool MayRunElevated();

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SETTINGS_MAY_RUN_ELEVATED_H_
