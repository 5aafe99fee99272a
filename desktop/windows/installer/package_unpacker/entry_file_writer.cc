#include "desktop/windows/installer/package_unpacker/entry_file_writer.h"

#include "base/logging.h"
#include "desktop/windows/installer/package_unpacker/in_turn_entry_file_writer.h"
#include "desktop/windows/installer/package_unpacker/threaded_entry_file_writer.h"

namespace installer {

// static
std::unique_ptr<EntryFileWriter> EntryFileWriter::Create() {
  auto threaded = std::make_unique<ThreadedEntryFileWriter>();
  if (threaded->Start())
    return threaded;
  LOG(WARNING) << "No thread for writing the package's files: written in turn";
  return std::make_unique<InTurnEntryFileWriter>();
}

}  // namespace installer
