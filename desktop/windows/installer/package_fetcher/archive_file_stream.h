#ifndef DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_ARCHIVE_FILE_STREAM_H_
#define DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_ARCHIVE_FILE_STREAM_H_

#include <windows.h>

#include "7zTypes.h"

namespace installer {

// The 7z reader's seekable input stream over an open file handle, which it
// does not own. Reads follow the reader's contract: the end of the file is
// a short (or empty) read that succeeds, a failed read is SZ_ERROR_READ.
class ArchiveFileStream {
 public:
  explicit ArchiveFileStream(HANDLE file);
  ArchiveFileStream(const ArchiveFileStream&) = delete;
  ArchiveFileStream& operator=(const ArchiveFileStream&) = delete;

  ISeekInStreamPtr stream() const { return &interface_; }

 private:
  struct Interface : ISeekInStream {
    HANDLE file;
  };

  static SRes Read(ISeekInStreamPtr stream, void* buffer, size_t* size);
  static SRes Seek(ISeekInStreamPtr stream, Int64* position, ESzSeek origin);

  Interface interface_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_ARCHIVE_FILE_STREAM_H_
