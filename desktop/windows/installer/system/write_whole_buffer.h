#ifndef DESKTOP_WINDOWS_INSTALLER_SYSTEM_WRITE_WHOLE_BUFFER_H_
#define DESKTOP_WINDOWS_INSTALLER_SYSTEM_WRITE_WHOLE_BUFFER_H_

#include <windows.h>

#include <cstddef>

namespace installer {

// Writes `size` bytes at the file's current position, in pieces small
// enough for one WriteFile each. 0 when every byte was written; otherwise
// the Windows error, and ERROR_WRITE_FAULT for a write that took no byte
// without reporting an error (one that took some goes on with the rest).
DWORD WriteWholeBuffer(HANDLE file, const void* data, size_t size);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SYSTEM_WRITE_WHOLE_BUFFER_H_
