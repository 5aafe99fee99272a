#ifndef DESKTOP_WINDOWS_INSTALLER_FRONTEND_ERROR_CAUSE_H_
#define DESKTOP_WINDOWS_INSTALLER_FRONTEND_ERROR_CAUSE_H_

#include <cstdint>
#include <string>

namespace installer {

// Whether a file could not be changed because a process holds it (a
// sharing or lock violation). 0, a refusal that gave no error, counts as in
// use: the in-use check is what reports it.
bool IsFileInUseError(uint32_t system_error);

// Whether a write failed for want of room on its volume.
bool IsDiskFullError(uint32_t system_error);

// The sentence that names what a Windows error means for the user, in the
// interface language: the installer's own text for the causes a user can
// act on (a full disk, a folder that may not be written), else the system's
// text; empty for 0.
std::wstring ErrorCauseText(uint32_t system_error);

// An error as the window shows it: the text of string `code` with `detail`
// for "$1", followed by the cause when one is known.
std::wstring ErrorWindowText(int code,
                             const std::wstring& detail,
                             uint32_t system_error);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_FRONTEND_ERROR_CAUSE_H_
