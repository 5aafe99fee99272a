#include "desktop/windows/installer/package_unpacker/in_turn_entry_file_writer.h"

#include <utility>

#include "desktop/windows/installer/package_unpacker/entry_file.h"

namespace installer {

InTurnEntryFileWriter::InTurnEntryFileWriter() = default;

InTurnEntryFileWriter::~InTurnEntryFileWriter() = default;

void InTurnEntryFileWriter::Open(const base::FilePath& path) {
  current_.reset();
  // After a failure nothing more is made: the unpack has failed.
  if (failed_)
    return;
  current_ = std::make_unique<EntryFile>(path);
  if (!current_->Create(&failure_)) {
    failed_ = true;
    current_.reset();
  }
}

void InTurnEntryFileWriter::Write(std::vector<uint8_t> data) {
  if (current_ && !current_->Write(data.data(), data.size(), &failure_)) {
    failed_ = true;
    current_.reset();
  }
}

std::vector<uint8_t> InTurnEntryFileWriter::TakeBuffer(size_t size) {
  return std::vector<uint8_t>(size);
}

void InTurnEntryFileWriter::Close(const FILETIME* last_write) {
  if (current_ && !current_->Close(last_write, &failure_))
    failed_ = true;
  current_.reset();
}

bool InTurnEntryFileWriter::failed() {
  return failed_;
}

bool InTurnEntryFileWriter::Finish(Failure* failure) {
  // A file the decoder gave up in the middle ends as it stands.
  current_.reset();
  if (!failed_)
    return true;
  *failure = failure_;
  return false;
}

}  // namespace installer
