#include "desktop/windows/installer/transactions/file_errors.h"

#include <windows.h>

namespace installer {

bool IsFileInUseError(uint32_t system_error) {
  return system_error == 0 || system_error == ERROR_SHARING_VIOLATION ||
         system_error == ERROR_LOCK_VIOLATION;
}

bool IsDiskFullError(uint32_t system_error) {
  return system_error == ERROR_DISK_FULL ||
         system_error == ERROR_HANDLE_DISK_FULL;
}

}  // namespace installer
