#include "desktop/windows/crash_reporter/own_minidump_writer.h"

#include <dbghelp.h>

#include <string>

#include "base/logging.h"
#include "base/strings/string_format.h"
#include "desktop/windows/crash_reporter/crash_exception_info.h"
#include "desktop/windows/crash_reporter/scoped_system_library.h"
#include "desktop/windows/installer/product/installer_version.h"

namespace installer {

namespace {

constexpr ULONG kVersionStreamType = 0x10000;
constexpr ULONG kAssertionStreamType = 0x10001;
// With indirectly referenced memory first, then a normal dump.
constexpr MINIDUMP_TYPE kDumpTypes[] = {MiniDumpWithIndirectlyReferencedMemory,
                                        MiniDumpNormal};
// What the dump writer fails with when the process's memory changed under
// it; another attempt may do.
constexpr DWORD kInvalidArgumentResult = 0x80070057;

using MiniDumpWriteDumpFunction = decltype(&::MiniDumpWriteDump);

bool EmptyFile(HANDLE file) {
  LARGE_INTEGER start = {};
  return ::SetFilePointerEx(file, start, nullptr, FILE_BEGIN) &&
         ::SetEndOfFile(file);
}

}  // namespace

bool WriteOwnMinidump(HANDLE process,
                      DWORD process_id,
                      const CrashExceptionInfo& info,
                      HANDLE file,
                      uint64_t size_limit) {
  const ScopedSystemLibrary dbghelp(L"dbghelp.dll");
  auto write_dump =
      dbghelp.GetFunction<MiniDumpWriteDumpFunction>("MiniDumpWriteDump");
  if (!write_dump) {
    LOG(ERROR) << "MiniDumpWriteDump is not available";
    return false;
  }
  MINIDUMP_EXCEPTION_INFORMATION exception = {};
  exception.ThreadId = info.thread_id;
  exception.ExceptionPointers =
      reinterpret_cast<EXCEPTION_POINTERS*>(info.exception_pointers);
  exception.ClientPointers = TRUE;

  std::string version =
      base::FormatString("%s %d", GetVersionString().c_str(), GetBuildNumber());
  AssertionRecord assertion = info.assertion;
  MINIDUMP_USER_STREAM streams[2] = {
      {kVersionStreamType, static_cast<ULONG>(version.size()), version.data()},
      {kAssertionStreamType, sizeof(assertion), &assertion}};
  MINIDUMP_USER_STREAM_INFORMATION user_streams = {
      info.assertion.type == AssertionRecord::kInvalidParameter ? 2u : 1u,
      streams};

  for (MINIDUMP_TYPE type : kDumpTypes) {
    if (write_dump(process, process_id, file, type, &exception, &user_streams,
                   nullptr)) {
      LARGE_INTEGER size = {};
      if (::GetFileSizeEx(file, &size) &&
          static_cast<uint64_t>(size.QuadPart) <= size_limit) {
        return true;
      }
      LOG(INFO) << "Minidump of type " << type << " is too large: "
                << size.QuadPart << " bytes";
    } else if (::GetLastError() != kInvalidArgumentResult) {
      PLOG(ERROR) << "MiniDumpWriteDump failed";
      return false;
    }
    if (!EmptyFile(file)) {
      PLOG(ERROR) << "Cannot empty the minidump file";
      return false;
    }
  }
  return false;
}

}  // namespace installer
