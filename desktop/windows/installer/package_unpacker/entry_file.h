#ifndef DESKTOP_WINDOWS_INSTALLER_PACKAGE_UNPACKER_ENTRY_FILE_H_
#define DESKTOP_WINDOWS_INSTALLER_PACKAGE_UNPACKER_ENTRY_FILE_H_

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "base/files/file_path.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/package_unpacker/entry_file_writer.h"

namespace installer {

// One file of an unpacked entry as the writers make it: created (or
// truncated) without sharing, written, given its modification time and
// closed. Each step logs its Windows error and, on failure, fills
// `failure` as the unpack reports it.
class EntryFile {
 public:
  explicit EntryFile(const base::FilePath& path);
  EntryFile(const EntryFile&) = delete;
  EntryFile& operator=(const EntryFile&) = delete;
  ~EntryFile();

  const base::FilePath& path() const { return path_; }

  [[nodiscard]] bool Create(EntryFileWriter::Failure* failure);
  [[nodiscard]] bool Write(const uint8_t* data,
                           size_t size,
                           EntryFileWriter::Failure* failure);
  // `last_write` may be null: the file keeps the time of its writes.
  [[nodiscard]] bool Close(const FILETIME* last_write,
                           EntryFileWriter::Failure* failure);

 private:
  bool Fail(int32_t state, DWORD error, EntryFileWriter::Failure* failure);

  const base::FilePath path_;
  base::win::ScopedHandle handle_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PACKAGE_UNPACKER_ENTRY_FILE_H_
