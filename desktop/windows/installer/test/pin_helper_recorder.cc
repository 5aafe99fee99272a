// Stands in for the taskbar-pin helper in the installer's tests: records how
// it was started and where it runs from, then ends as told. Environment:
//   TARVO_PIN_HELPER_RECORD  the file the record goes to ("key=value" lines,
//                            UTF-8)
//   TARVO_PIN_HELPER_EXIT    the exit status (default 0)
//   TARVO_PIN_HELPER_HANG    when set, never ends once the record is written
// Record keys: "arguments" (their count), "argument" (the first one),
// "program" (its own path), "rename_error" (the error of renaming its own
// file while it runs, 0 when that worked).

#include <windows.h>
#include <shellapi.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/scoped_local_alloc.h"

namespace {

std::wstring GetEnvironment(const wchar_t* name) {
  wchar_t value[MAX_PATH] = {};
  const DWORD length = ::GetEnvironmentVariableW(name, value, MAX_PATH);
  return length < MAX_PATH ? std::wstring(value, length) : std::wstring();
}

DWORD RenameSelf(const base::FilePath& program) {
  const base::FilePath moved = program.AddExtension(L"moved");
  if (!::MoveFileW(program.value().c_str(), moved.value().c_str()))
    return ::GetLastError();
  ::MoveFileW(moved.value().c_str(), program.value().c_str());
  return 0;
}

}  // namespace

int main() {
  int count = 0;
  wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  base::win::ScopedLocalAlloc<wchar_t*> argv_owner(argv);
  wchar_t module[MAX_PATH] = {};
  const DWORD length = ::GetModuleFileNameW(nullptr, module, MAX_PATH);
  const base::FilePath program(std::wstring(module, length));

  std::string record = "arguments=" + base::IntToString(count - 1) + "\n";
  if (count > 1)
    record += "argument=" + base::WideToUtf8(argv[1]) + "\n";
  record += "program=" + program.AsUTF8() + "\n";
  record += "rename_error=" + base::IntToString(RenameSelf(program)) + "\n";
  const base::FilePath record_file(GetEnvironment(L"TARVO_PIN_HELPER_RECORD"));
  if (!record_file.empty()) {
    base::WriteBufferToFile(record_file, record.data(),
                            static_cast<int>(record.size()));
  }

  if (!GetEnvironment(L"TARVO_PIN_HELPER_HANG").empty())
    ::Sleep(INFINITE);
  const std::wstring exit_code = GetEnvironment(L"TARVO_PIN_HELPER_EXIT");
  return exit_code.empty() ? 0 : _wtoi(exit_code.c_str());
}
