#ifndef DESKTOP_WINDOWS_INSTALLER_TRANSACTIONS_FILE_ERRORS_H_
#define DESKTOP_WINDOWS_INSTALLER_TRANSACTIONS_FILE_ERRORS_H_

#include <cstdint>

namespace installer {

// Whether a file could not be changed because a process holds it (a
// sharing or lock violation). 0, a refusal that gave no error, counts as in
// use: the in-use check is what reports it.
bool IsFileInUseError(uint32_t system_error);

// Whether a write failed for want of room on its volume.
bool IsDiskFullError(uint32_t system_error);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_TRANSACTIONS_FILE_ERRORS_H_
