#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_DUMP_FILE_WRITER_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_DUMP_FILE_WRITER_H_

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "base/win/scoped_handle.h"

namespace installer {

// Writes one minidump of a process (another one, or this one) into a new
// file named by a fresh GUID. The addresses are those of the dumped process
// when `client_pointers` is set, else of this one.
class DumpFileWriter {
 public:
  DumpFileWriter(const std::wstring& dump_folder,
                 HANDLE process,
                 DWORD process_id,
                 DWORD crashed_thread_id,
                 DWORD requesting_thread_id,
                 uint64_t exception_pointers_address,
                 uint64_t assertion_address,
                 uint32_t dump_type,
                 bool client_pointers);
  DumpFileWriter(const DumpFileWriter&) = delete;
  DumpFileWriter& operator=(const DumpFileWriter&) = delete;
  ~DumpFileWriter();

  // False when a file is already open or no GUID can be made.
  bool CreateDumpFile(std::wstring* path);
  bool WriteMinidump();

 private:
  bool ReadDumpedMemory(uint64_t address, void* buffer, size_t size) const;
  bool ReadExceptionCode(DWORD* code) const;
  // The handle operations of the handle an invalid-handle crash was about;
  // empty when the system keeps no trace of them. False when the crash
  // cannot be read.
  bool CollectHandleOperations(std::vector<uint8_t>* stream) const;

  const std::wstring dump_folder_;
  const HANDLE process_;
  const DWORD process_id_;
  const DWORD crashed_thread_id_;
  const DWORD requesting_thread_id_;
  const uint64_t exception_pointers_address_;
  const uint64_t assertion_address_;
  const uint32_t dump_type_;
  const bool client_pointers_;
  base::win::ScopedHandle dump_file_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_DUMP_FILE_WRITER_H_
