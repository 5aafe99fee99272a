#include "desktop/windows/installer/system/write_whole_buffer.h"

#include <algorithm>
#include <cstdint>

namespace installer {
namespace {

// WriteFile counts in 32 bits; smaller pieces also keep each call short.
constexpr size_t kMaxPieceSize = 16 * 1024 * 1024;

}  // namespace

DWORD WriteWholeBuffer(HANDLE file, const void* data, size_t size) {
  const uint8_t* next = static_cast<const uint8_t*>(data);
  while (size > 0) {
    const DWORD piece = static_cast<DWORD>(std::min(size, kMaxPieceSize));
    DWORD written = 0;
    ::SetLastError(ERROR_SUCCESS);
    if (!::WriteFile(file, next, piece, &written, nullptr)) {
      const DWORD error = ::GetLastError();
      return error != ERROR_SUCCESS ? error : ERROR_WRITE_FAULT;
    }
    // A write that took part of the piece is tried again with the rest: on a
    // full disk the next one fails with the error that names it.
    if (written == 0)
      return ERROR_WRITE_FAULT;
    next += written;
    size -= written;
  }
  return ERROR_SUCCESS;
}

}  // namespace installer
