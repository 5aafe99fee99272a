#ifndef UTIL_FILE_FILE_READER_H_
#define UTIL_FILE_FILE_READER_H_

#include <cstddef>
#include <cstdint>

#include "base/files/file_path.h"
#include "base/win/scoped_handle.h"

namespace util {

// Blocking reads of a file (or a pipe) for the upload streams. Failures are
// logged here, so callers only pass the result on.
class FileReader {
 public:
  FileReader();
  FileReader(const FileReader&) = delete;
  FileReader& operator=(const FileReader&) = delete;
  ~FileReader();

  // Opens for reading, letting others read and write meanwhile.
  bool Open(const base::FilePath& path);
  bool IsOpen() const { return handle_.IsValid(); }
  // Fills `buffer` unless the data ends first: the bytes read (0 at the
  // end), or -1 on an error.
  int64_t Read(void* buffer, size_t size);
  void Close();

 private:
  base::win::ScopedHandle handle_;
  bool is_pipe_ = false;
};

}  // namespace util

#endif  // UTIL_FILE_FILE_READER_H_
