#include "desktop/windows/crash_reporter/own_crash_log_writer.h"

#include <psapi.h>

#include <string>

#include "base/files/file_path.h"
#include "base/logging.h"
#include "base/strings/string_format.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/crash_reporter/crash_exception_info.h"
#include "desktop/windows/crash_reporter/crash_file.h"
#include "desktop/windows/crash_reporter/crash_log_data.h"
#include "desktop/windows/crash_reporter/crash_log_writer.h"
#include "desktop/windows/crash_reporter/own_minidump_writer.h"
#include "desktop/windows/crash_reporter/scoped_debugger_attachment.h"

namespace installer {

namespace {

constexpr DWORD kProcessAccess = PROCESS_QUERY_INFORMATION | PROCESS_VM_READ;
constexpr DWORD kImagePathSize = 260;
constexpr wchar_t kDumpPartExtension[] = L".dmp";
// Far above any dump limit a caller gives: a bound on what is read back.
constexpr uint64_t kMaxDumpFileSize = 256u << 20;

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

// Everything `file` holds, read through its own handle.
bool ReadWholeFile(HANDLE file, std::string* bytes) {
  LARGE_INTEGER size = {};
  if (!::GetFileSizeEx(file, &size) || size.QuadPart < 0 ||
      static_cast<uint64_t>(size.QuadPart) > kMaxDumpFileSize ||
      !::SetFilePointerEx(file, LARGE_INTEGER{}, nullptr, FILE_BEGIN)) {
    return false;
  }
  bytes->resize(static_cast<size_t>(size.QuadPart));
  DWORD read = 0;
  return bytes->empty() ||
         (::ReadFile(file, bytes->data(), static_cast<DWORD>(bytes->size()),
                     &read, nullptr) &&
          read == bytes->size());
}

// The minidump, through a file made new beside the log (never a name or a
// link already there) and read back through its own handle.
bool ReadMinidump(HANDLE process,
                  DWORD process_id,
                  const CrashExceptionInfo& info,
                  uint64_t limit,
                  const base::FilePath& log_path,
                  std::string* dump) {
  CrashFile file = CrashFile::Create(log_path.AddExtension(kDumpPartExtension),
                                     GENERIC_READ | GENERIC_WRITE);
  const bool read =
      file.IsValid() &&
      WriteOwnMinidump(process, process_id, info, file.handle(), limit) &&
      ReadWholeFile(file.handle(), dump);
  file.Discard();
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
                      uint64_t dump_limit,
                      base::FilePath* made_path) {
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
  if (!ReadMinidump(process.Get(), process_id, info, dump_limit, path, &dump))
    return false;
  DWORD code = 0;
  uint64_t address = 0;
  ReadException(process.Get(), info, &code, &address);
  const std::string log =
      LogText(data, ImageBaseName(process.Get()), code, address) + dump;
  CrashFile file = CrashFile::Create(path);
  if (!file.IsValid())
    return false;
  if (!file.Append(log)) {
    file.Discard();
    return false;
  }
  if (made_path)
    *made_path = file.path();
  return true;
}

}  // namespace installer
