#ifndef DESKTOP_WINDOWS_INSTALLER_ENTRY_INSTALLER_RESULT_H_
#define DESKTOP_WINDOWS_INSTALLER_ENTRY_INSTALLER_RESULT_H_

#include <cstdint>

// What an installer process's result means, decided here once for the
// library and its host executable.
//
// `RunInstaller` returns one byte: kInstallerSucceeded when the process's
// role did its work, kInstallerFailed otherwise. Every role reports a plain
// success flag, turned into the byte by InstallerResultFromSuccess, so no
// wider number is ever cut down to a byte. The host ends the process with
// ExitCodeForInstallerResult: the installer processes that wait for one
// another take exit code 0 as success and anything else as failure, so only
// a success maps to 0, and a result the host does not know is a failure.
// Header only: the host includes it without linking the library.

namespace installer {

inline constexpr uint8_t kInstallerFailed = 0;
inline constexpr uint8_t kInstallerSucceeded = 1;

// Exit codes of the host executable.
inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;
// The host could not load the library or find its entry.
inline constexpr int kExitLibraryUnavailable = 2;
// The host refused a library that is not the one its build was made with.
// (3 is what the runtime's abort ends a process with.)
inline constexpr int kExitLibraryRefused = 4;

constexpr uint8_t InstallerResultFromSuccess(bool success) {
  return success ? kInstallerSucceeded : kInstallerFailed;
}

constexpr int ExitCodeForInstallerResult(uint8_t result) {
  return result == kInstallerSucceeded ? kExitSuccess : kExitFailure;
}

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_ENTRY_INSTALLER_RESULT_H_
