#ifndef DESKTOP_WINDOWS_INSTALLER_PACKAGE_UNPACKER_ENTRY_FILE_WRITER_H_
#define DESKTOP_WINDOWS_INSTALLER_PACKAGE_UNPACKER_ENTRY_FILE_WRITER_H_

#include <windows.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "base/files/file_path.h"

namespace installer {

// Makes the files of unpacked archive entries, given one after another: a
// file is opened, its data follows in pieces, and it is closed with its
// modification time. Once a file fails, the files given after it are not
// made. The outcome is that of making the files one after another in the
// order given, however the work is spread: a later file of the same path
// replaces an earlier one. The calls come from one thread.
class EntryFileWriter {
 public:
  // What failed first in the order of the files: a PackageUnpacker::ErrorState,
  // the unpack's result (the Windows error) and the file.
  struct Failure {
    int32_t state = 0;
    int result = 0;
    base::FilePath path;
  };

  // The writer on threads of its own, or, where the system refuses the
  // threads, one that does each call's work at once.
  static std::unique_ptr<EntryFileWriter> Create();

  virtual ~EntryFileWriter() = default;

  // Creates (or truncates) the next file; its data follows in `Write` calls.
  virtual void Open(const base::FilePath& path) = 0;
  virtual void Write(std::vector<uint8_t> data) = 0;
  // A buffer of `size` bytes for a `Write`.
  virtual std::vector<uint8_t> TakeBuffer(size_t size) = 0;
  // Ends the file, with `last_write` as its modification time when given.
  virtual void Close(const FILETIME* last_write) = 0;
  // Whether a file failed: the caller need give no more.
  virtual bool failed() = 0;
  // Waits until everything given is done. False, with the first failure,
  // when a file failed. Destroying the writer without it does the same,
  // the result unread.
  [[nodiscard]] virtual bool Finish(Failure* failure) = 0;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PACKAGE_UNPACKER_ENTRY_FILE_WRITER_H_
