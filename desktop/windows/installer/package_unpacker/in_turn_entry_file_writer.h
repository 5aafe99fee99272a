#ifndef DESKTOP_WINDOWS_INSTALLER_PACKAGE_UNPACKER_IN_TURN_ENTRY_FILE_WRITER_H_
#define DESKTOP_WINDOWS_INSTALLER_PACKAGE_UNPACKER_IN_TURN_ENTRY_FILE_WRITER_H_

#include <memory>
#include <vector>

#include "desktop/windows/installer/package_unpacker/entry_file_writer.h"

namespace installer {

class EntryFile;

// The writer without threads of its own: each call makes its part of the
// file at once, on the caller's thread.
class InTurnEntryFileWriter : public EntryFileWriter {
 public:
  InTurnEntryFileWriter();
  InTurnEntryFileWriter(const InTurnEntryFileWriter&) = delete;
  InTurnEntryFileWriter& operator=(const InTurnEntryFileWriter&) = delete;
  ~InTurnEntryFileWriter() override;

  void Open(const base::FilePath& path) override;
  void Write(std::vector<uint8_t> data) override;
  std::vector<uint8_t> TakeBuffer(size_t size) override;
  void Close(const FILETIME* last_write) override;
  bool failed() override;
  [[nodiscard]] bool Finish(Failure* failure) override;

 private:
  // The file being written, until it is closed or fails.
  std::unique_ptr<EntryFile> current_;
  bool failed_ = false;
  Failure failure_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PACKAGE_UNPACKER_IN_TURN_ENTRY_FILE_WRITER_H_
