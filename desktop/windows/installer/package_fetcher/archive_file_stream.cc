#include "desktop/windows/installer/package_fetcher/archive_file_stream.h"

#include <algorithm>
#include <cstdint>

#include "base/logging.h"

namespace installer {
namespace {

// ReadFile counts in 32 bits.
constexpr size_t kMaxReadSize = 1 << 30;

}  // namespace

ArchiveFileStream::ArchiveFileStream(HANDLE file) {
  interface_.Read = &Read;
  interface_.Seek = &Seek;
  interface_.file = file;
}

SRes ArchiveFileStream::Read(ISeekInStreamPtr stream,
                             void* buffer,
                             size_t* size) {
  const HANDLE file = static_cast<const Interface*>(stream)->file;
  uint8_t* const bytes = static_cast<uint8_t*>(buffer);
  const size_t requested = *size;
  size_t done = 0;
  while (done < requested) {
    const DWORD piece =
        static_cast<DWORD>(std::min(requested - done, kMaxReadSize));
    DWORD read = 0;
    if (!::ReadFile(file, bytes + done, piece, &read, nullptr)) {
      PLOG(ERROR) << "Reading the archive failed";
      *size = done;
      return SZ_ERROR_READ;
    }
    if (read == 0)
      break;
    done += read;
  }
  *size = done;
  return SZ_OK;
}

SRes ArchiveFileStream::Seek(ISeekInStreamPtr stream,
                             Int64* position,
                             ESzSeek origin) {
  DWORD method = FILE_BEGIN;
  switch (origin) {
    case SZ_SEEK_SET:
      method = FILE_BEGIN;
      break;
    case SZ_SEEK_CUR:
      method = FILE_CURRENT;
      break;
    case SZ_SEEK_END:
      method = FILE_END;
      break;
    default:
      return SZ_ERROR_PARAM;
  }
  LARGE_INTEGER distance;
  distance.QuadPart = *position;
  LARGE_INTEGER moved_to;
  // The 64-bit call tells failure by its result: a position whose low half
  // looks like INVALID_SET_FILE_POINTER needs no look at the last error.
  if (!::SetFilePointerEx(static_cast<const Interface*>(stream)->file, distance,
                          &moved_to, method)) {
    PLOG(ERROR) << "Seeking in the archive failed";
    return SZ_ERROR_FAIL;
  }
  *position = moved_to.QuadPart;
  return SZ_OK;
}

}  // namespace installer
