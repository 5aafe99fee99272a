#ifndef BASE_FILES_FILE_H_
#define BASE_FILES_FILE_H_

#include <windows.h>

#include <cstdint>

#include "base/files/file_error.h"
#include "base/time/time.h"
#include "base/win/scoped_handle.h"

namespace base {

class FilePath;

// Owns one open Windows file handle. Failures come back as results (-1,
// false) and, for opening, as `error()`; nothing is logged.
class File {
 public:
  // Open flags. Of several disposition bits the first of kOpenTruncated,
  // kCreateAlways, kOpenAlways, kCreate, kOpen wins.
  enum Flags : uint32_t {
    kOpen = 0x1,
    kCreate = 0x2,
    kOpenAlways = 0x4,
    kCreateAlways = 0x8,
    kOpenTruncated = 0x10,
    kRead = 0x20,
    kWrite = 0x40,
    kAppend = 0x80,  // FILE_APPEND_DATA instead of GENERIC_WRITE.
    kExclusiveRead = 0x100,
    kExclusiveWrite = 0x200,
    kAsync = 0x400,
    kTemporary = 0x800,
    kHidden = 0x1000,
    kDeleteOnClose = 0x2000,
    kWriteAttributes = 0x4000,
    kShareDelete = 0x8000,
    kBackupSemantics = 0x20000,
    kExecute = 0x40000,
    kSequentialScan = 0x80000,
    kCanDeleteOnClose = 0x100000,
  };

  // The values of FILE_BEGIN, FILE_CURRENT and FILE_END.
  enum Whence : int {
    kFromBegin = 0,
    kFromCurrent = 1,
    kFromEnd = 2,
  };

  struct Info {
    int64_t size = 0;
    bool is_directory = false;
    bool is_symbolic_link = false;  // Never set on Windows.
    Time last_modified;
    Time last_accessed;
    Time creation_time;
  };

  // No handle; error() is kFailed.
  File();
  // Opens at once; see Initialize.
  File(const FilePath& path, uint32_t flags);
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  ~File();

  // Closes any handle held, then opens `path`. A path with a ".." component
  // is refused with kAccessDenied; flags without a disposition bit open
  // nothing. Read the outcome from IsValid(), error() and created().
  void Initialize(const FilePath& path, uint32_t flags);

  bool IsValid() const;
  HANDLE GetPlatformFile() const;
  void Close();

  FileError error() const { return error_; }
  // True when the last open made a new file.
  bool created() const { return created_; }
  bool async() const { return async_; }

  // The new position, or -1.
  int64_t Seek(Whence whence, int64_t offset);
  // Bytes read, 0 at end of file, -1 on failure or for a negative size.
  int ReadAtCurrentPos(char* data, int size);
  // Bytes written at `offset`, or -1. Refused (-1) for a negative offset or
  // size and on a handle opened with kAsync: the write could complete after
  // the call has returned.
  int Write(int64_t offset, const char* data, int size);
  // Leaves the file position where it was.
  bool SetLength(int64_t length);
  bool Flush();
  bool GetInfo(Info* info) const;
  // The size in bytes, or -1.
  int64_t GetLength() const;

  // Codes with no FileError of their own give kFailed and are counted in the
  // "PlatformFile.UnknownErrors.Windows" histogram.
  static FileError OSErrorToFileError(uint32_t code);

 private:
  win::ScopedHandle handle_;
  FileError error_ = FileError::kFailed;
  bool created_ = false;
  bool async_ = false;
};

}  // namespace base

#endif  // BASE_FILES_FILE_H_
