#include "desktop/windows/crash_reporter/own_crash_log_writer.h"

#include <psapi.h>

#include <string>

#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/strings/string_format.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/crash_reporter/crash_exception_info.h"
#include "desktop/windows/crash_reporter/crash_log_data.h"
#include "desktop/windows/crash_reporter/crash_log_writer.h"
#include "desktop/windows/crash_reporter/own_minidump_writer.h"
#include "desktop/windows/crash_reporter/scoped_debugger_attachment.h"

namespace installer {

namespace {

constexpr DWORD kProcessAccess = PROCESS_QUERY_INFORMATION | PROCESS_VM_READ;
constexpr DWORD kImagePathSize = 260;

bool ReadFully(HANDLE process, uint64_t address, void* buffer, size_t size) {
  SIZE_T read = 0;
  return ::ReadProcessMemory(process, reinterpret_cast<const void*>(address),
                             buffer, size, &read) &&
         read == size;
}

std::string ImageBaseName(HANDLE process) {
  wchar_t image[kImagePathSize];
  const DWORD length =
      ::GetProcessImageFileNameW(process, image, kImagePathSize);
  const std::wstring path(image, length);
  return base::WideToUtf8(path.substr(path.rfind(L'\\') + 1));
}

// The minidump, through a temporary file.
bool ReadMinidump(HANDLE process,
                  DWORD process_id,
                  const CrashExceptionInfo& info,
                  uint64_t limit,
                  std::string* dump) {
  base::FilePath temporary;
  if (!base::CreateTemporaryFile(&temporary))
    return false;
  bool written = false;
  {
    const base::win::ScopedHandle file(::CreateFileW(
        temporary.value().c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
        CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    written = file.IsValid() &&
              WriteOwnMinidump(process, process_id, info, file.Get(), limit);
  }
  const bool read = written && base::ReadFileToString(temporary, dump);
  base::DeletePath(temporary, false);
  return read;
}

// Code and address of the crash; 0 for what cannot be read.
void ReadException(HANDLE process,
                   const CrashExceptionInfo& info,
                   DWORD* code,
                   uint64_t* address) {
  EXCEPTION_POINTERS pointers = {};
  EXCEPTION_RECORD record = {};
  *code = 0;
  *address = 0;
  if (ReadFully(process, info.exception_pointers, &pointers,
                sizeof(pointers)) &&
      ReadFully(process, reinterpret_cast<uint64_t>(pointers.ExceptionRecord),
                &record, sizeof(record))) {
    *code = record.ExceptionCode;
    *address = reinterpret_cast<uint64_t>(record.ExceptionAddress);
  }
}

std::string LogText(const CrashLogData& data,
                    const std::string& image,
                    DWORD code,
                    uint64_t address) {
  std::string text = base::FormatString(
      "TARVO-CRASHLOG V1 desktop%s %s %s windows x64 release\r\n"
      "%s caused exception %lX at address %012llX (BASE: 00000000)\r\n",
      data.product_suffix.c_str(), data.version.c_str(),
      data.build_number.c_str(), image.c_str(), code,
      static_cast<unsigned long long>(address));
  if (!data.metadata.empty()) {
    text += "\r\nmetadata:\r\n";
    for (const auto& [name, value] : data.metadata)
      text += name + "=\"" + EscapeMetadataValue(value) + "\"\r\n";
  }
  text += "\r\nminidump:\r\n";
  return text;
}

}  // namespace

bool WriteOwnCrashLog(DWORD process_id,
                      uint64_t info_address,
                      const CrashLogData& data,
                      const base::FilePath& path,
                      uint64_t dump_limit) {
  // Holds the crashed reporter still: once its wait for this process runs
  // out it ends, and its memory changes under the dump.
  const ScopedDebuggerAttachment debugger(process_id);
  const base::win::ScopedHandle process(
      ::OpenProcess(kProcessAccess, FALSE, process_id));
  CrashExceptionInfo info = {};
  if (!process.IsValid() ||
      !ReadFully(process.Get(), info_address, &info, sizeof(info))) {
    PLOG(ERROR) << "Cannot read the crash of reporter " << process_id;
    return false;
  }
  std::string dump;
  if (!ReadMinidump(process.Get(), process_id, info, dump_limit, &dump))
    return false;
  DWORD code = 0;
  uint64_t address = 0;
  ReadException(process.Get(), info, &code, &address);
  const std::string log =
      LogText(data, ImageBaseName(process.Get()), code, address) + dump;
  if (base::WriteBufferToFile(path, log.data(), static_cast<int>(log.size())) ==
      static_cast<int>(log.size())) {
    return true;
  }
  PLOG(ERROR) << "Cannot write " << path.value().c_str();
  base::DeletePath(path, false);
  return false;
}

}  // namespace installer
