#include "desktop/windows/crash_reporter/process_memory_reader.h"

#include "base/logging.h"
#include "base/strings/string_format.h"

namespace installer {

namespace {

constexpr uint32_t kMaxLoggedFailures = 100;

}  // namespace

ProcessMemoryReader::ProcessMemoryReader(HANDLE process) : process_(process) {}

ProcessMemoryReader::~ProcessMemoryReader() = default;

const uint8_t* ProcessMemoryReader::Read(uint64_t address,
                                         size_t size,
                                         size_t* bytes_read) {
  *bytes_read = 0;
  if (buffer_.size() < size)
    buffer_.resize(size);
  // A read that stops at an unreadable page fails with the bytes it got,
  // and those are worth having.
  SIZE_T read = 0;
  if (size != 0) {
    ::ReadProcessMemory(process_, reinterpret_cast<const void*>(address),
                        buffer_.data(), size, &read);
  }
  if (read != 0) {
    *bytes_read = read;
    return buffer_.data();
  }
  if (++failures_ <= kMaxLoggedFailures) {
    PLOG(ERROR) << "ReadProcessMemory failed for address 0x"
                << base::FormatString("%llX",
                                      static_cast<unsigned long long>(address))
                << " and size " << size << ", bytes_read=" << read;
    if (failures_ == kMaxLoggedFailures)
      LOG(INFO) << "Reached limit of logged memory read errors";
  }
  return nullptr;
}

}  // namespace installer
