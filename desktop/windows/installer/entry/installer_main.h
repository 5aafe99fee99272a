#ifndef DESKTOP_WINDOWS_INSTALLER_ENTRY_INSTALLER_MAIN_H_
#define DESKTOP_WINDOWS_INSTALLER_ENTRY_INSTALLER_MAIN_H_

#include <cstdint>

namespace installer {

// The whole run of an installer process, on its main thread: reads the
// process's command line, picks the process's role (print a value, crash
// reporter, help, folder permission, backend, silent or interactive front
// end), sets up the process-wide services, runs the role and takes the
// services down again. Returns kInstallerSucceeded or kInstallerFailed
// (installer_result.h says what the host makes of them).
uint8_t RunInstaller();

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_ENTRY_INSTALLER_MAIN_H_
