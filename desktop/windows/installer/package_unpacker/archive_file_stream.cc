#include "desktop/windows/installer/package_unpacker/archive_file_stream.h"

#include <algorithm>
#include <cstdint>

#include "base/logging.h"

namespace installer {
namespace {

// ReadFile counts in 32 bits.
constexpr size_t kMaxReadSize = 1 << 30;

}  // namespace

ArchiveFileStream::ArchiveFileStream(HANDLE file)
    : ArchiveFileStream(file, 0, 0) {
  interface_.windowed = false;
}

ArchiveFileStream::ArchiveFileStream(HANDLE file,
                                     uint64_t offset,
                                     uint64_t length) {
  interface_.Read = &Read;
  interface_.Seek = &Seek;
  interface_.file = file;
  interface_.windowed = true;
  interface_.offset = offset;
  interface_.length = length;
  interface_.position = 0;
}

SRes ArchiveFileStream::Read(ISeekInStreamPtr stream,
                             void* buffer,
                             size_t* size) {
  Interface* const window =
      const_cast<Interface*>(static_cast<const Interface*>(stream));
  const HANDLE file = window->file;
  uint8_t* const bytes = static_cast<uint8_t*>(buffer);
  size_t requested = *size;
  if (window->windowed) {
    const uint64_t left = window->position < window->length
                              ? window->length - window->position
                              : 0;
    requested = static_cast<size_t>(std::min<uint64_t>(requested, left));
  }
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
  window->position += done;
  return SZ_OK;
}

SRes ArchiveFileStream::Seek(ISeekInStreamPtr stream,
                             Int64* position,
                             ESzSeek origin) {
  Interface* const window =
      const_cast<Interface*>(static_cast<const Interface*>(stream));
  if (window->windowed)
    return SeekInWindow(window, position, origin);
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

// static
SRes ArchiveFileStream::SeekInWindow(Interface* window,
                                     Int64* position,
                                     ESzSeek origin) {
  int64_t base = 0;
  switch (origin) {
    case SZ_SEEK_SET:
      break;
    case SZ_SEEK_CUR:
      base = static_cast<int64_t>(window->position);
      break;
    case SZ_SEEK_END:
      base = static_cast<int64_t>(window->length);
      break;
    default:
      return SZ_ERROR_PARAM;
  }
  // Before the window's start is before the archive's: refused as a seek
  // before a file's start is.
  const int64_t target = base + *position;
  if (target < 0)
    return SZ_ERROR_FAIL;
  LARGE_INTEGER distance;
  distance.QuadPart = static_cast<int64_t>(window->offset) + target;
  if (!::SetFilePointerEx(window->file, distance, nullptr, FILE_BEGIN)) {
    PLOG(ERROR) << "Seeking in the archive failed";
    return SZ_ERROR_FAIL;
  }
  window->position = static_cast<uint64_t>(target);
  *position = target;
  return SZ_OK;
}

}  // namespace installer
