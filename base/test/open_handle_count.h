#ifndef BASE_TEST_OPEN_HANDLE_COUNT_H_
#define BASE_TEST_OPEN_HANDLE_COUNT_H_

#include <windows.h>

#include <cstdint>

#include "base/files/file_path.h"

namespace base {

// The number of this process's handles that refer to the file at `path`
// (same volume and file index). Unlike the whole table, this count belongs
// to the caller: other threads may open and close their own handles
// meanwhile without changing it.
inline int CountHandlesToFile(const FilePath& path) {
  BY_HANDLE_FILE_INFORMATION target = {};
  HANDLE probe = ::CreateFileW(
      path.value().c_str(), FILE_READ_ATTRIBUTES,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (probe == INVALID_HANDLE_VALUE)
    return -1;
  const bool known = ::GetFileInformationByHandle(probe, &target);
  ::CloseHandle(probe);
  if (!known)
    return -1;

  constexpr uintptr_t kHandleStep = 4;
  constexpr int kUnusedRunToStop = 1024;
  int count = 0;
  int unused_run = 0;
  for (uintptr_t value = kHandleStep; unused_run < kUnusedRunToStop;
       value += kHandleStep) {
    HANDLE handle = reinterpret_cast<HANDLE>(value);
    DWORD flags = 0;
    if (!::GetHandleInformation(handle, &flags)) {
      ++unused_run;
      continue;
    }
    unused_run = 0;
    // Only disk files are asked about their identity: a query on a pipe
    // another thread is reading from could block.
    BY_HANDLE_FILE_INFORMATION information = {};
    if (::GetFileType(handle) == FILE_TYPE_DISK &&
        ::GetFileInformationByHandle(handle, &information) &&
        information.dwVolumeSerialNumber == target.dwVolumeSerialNumber &&
        information.nFileIndexHigh == target.nFileIndexHigh &&
        information.nFileIndexLow == target.nFileIndexLow) {
      ++count;
    }
  }
  return count;
}

}  // namespace base

#endif  // BASE_TEST_OPEN_HANDLE_COUNT_H_
