#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_OWN_MINIDUMP_WRITER_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_OWN_MINIDUMP_WRITER_H_

#include <windows.h>

#include <cstdint>

namespace installer {

struct CrashExceptionInfo;

// The reporter's minidump of another crashed process, into `file` (opened
// for writing, empty): with the product's version, and the runtime's
// report for an invalid parameter. A dump with indirectly referenced
// memory is tried first and a normal one when that is larger than
// `size_limit` bytes. False when neither fits; the caller then deletes the
// file.
bool WriteOwnMinidump(HANDLE process,
                      DWORD process_id,
                      const CrashExceptionInfo& info,
                      HANDLE file,
                      uint64_t size_limit);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_OWN_MINIDUMP_WRITER_H_
