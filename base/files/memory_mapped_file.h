#ifndef BASE_FILES_MEMORY_MAPPED_FILE_H_
#define BASE_FILES_MEMORY_MAPPED_FILE_H_

#include <cstdint>

#include "base/files/file.h"
#include "base/win/scoped_handle.h"

namespace base {

class FilePath;

// Maps a whole existing file into memory and owns the view, the mapping and
// the file until CloseHandles or destruction.
class MappedFile {
 public:
  enum Access : int {
    kReadOnly = 0,
    kReadWrite = 1,
  };

  MappedFile();
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;
  ~MappedFile();

  // False when a view is already mapped, when the file cannot be opened, or
  // when it is empty or 2 GiB or larger.
  bool Initialize(const FilePath& path, Access access);

  // Null when nothing is mapped. Writable only with kReadWrite.
  uint8_t* data() const { return data_; }
  int64_t length() const { return length_; }

  void CloseHandles();

 private:
  bool MapFileToMemory(Access access);

  File file_;
  uint8_t* data_ = nullptr;
  int64_t length_ = 0;
  win::ScopedHandle mapping_;
};

}  // namespace base

#endif  // BASE_FILES_MEMORY_MAPPED_FILE_H_
