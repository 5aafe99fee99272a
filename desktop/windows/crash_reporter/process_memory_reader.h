#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_PROCESS_MEMORY_READER_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_PROCESS_MEMORY_READER_H_

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "desktop/windows/crash_reporter/process_state.h"

namespace installer {

// Reads another process's memory through a handle with PROCESS_VM_READ,
// which the caller keeps open. Only the first 100 failures are logged: a
// crash log asks for many addresses that turn out to be unmapped.
class ProcessMemoryReader : public MemoryReader {
 public:
  explicit ProcessMemoryReader(HANDLE process);
  ProcessMemoryReader(const ProcessMemoryReader&) = delete;
  ProcessMemoryReader& operator=(const ProcessMemoryReader&) = delete;
  ~ProcessMemoryReader() override;

  // MemoryReader:
  const uint8_t* Read(uint64_t address,
                      size_t size,
                      size_t* bytes_read) override;

 private:
  const HANDLE process_;
  // Kept between reads, grown to the largest size asked for.
  std::vector<uint8_t> buffer_;
  uint32_t failures_ = 0;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_PROCESS_MEMORY_READER_H_
