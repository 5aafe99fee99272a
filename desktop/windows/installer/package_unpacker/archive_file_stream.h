#ifndef DESKTOP_WINDOWS_INSTALLER_PACKAGE_UNPACKER_ARCHIVE_FILE_STREAM_H_
#define DESKTOP_WINDOWS_INSTALLER_PACKAGE_UNPACKER_ARCHIVE_FILE_STREAM_H_

#include <windows.h>

#include <cstdint>

#include "7zTypes.h"

namespace installer {

// The 7z reader's seekable input stream over an open file handle, which it
// does not own. Reads follow the reader's contract: the end of the file is
// a short (or empty) read that succeeds, a failed read is SZ_ERROR_READ.
// With a window, the archive is the `length` bytes at `offset` of the file
// (a package inside its installer file): positions count from the window's
// start and reads end at its end.
class ArchiveFileStream {
 public:
  explicit ArchiveFileStream(HANDLE file);
  ArchiveFileStream(HANDLE file, uint64_t offset, uint64_t length);
  ArchiveFileStream(const ArchiveFileStream&) = delete;
  ArchiveFileStream& operator=(const ArchiveFileStream&) = delete;

  ISeekInStreamPtr stream() const { return &interface_; }

 private:
  struct Interface : ISeekInStream {
    HANDLE file;
    bool windowed;
    uint64_t offset;
    uint64_t length;
    // Within the window; only kept for a windowed stream.
    uint64_t position;
  };

  static SRes Read(ISeekInStreamPtr stream, void* buffer, size_t* size);
  static SRes Seek(ISeekInStreamPtr stream, Int64* position, ESzSeek origin);
  static SRes SeekInWindow(Interface* window, Int64* position, ESzSeek origin);

  Interface interface_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PACKAGE_UNPACKER_ARCHIVE_FILE_STREAM_H_
