#ifndef BASE_TEST_PROCESS_CHILD_H_
#define BASE_TEST_PROCESS_CHILD_H_

#include <windows.h>

#include <string>

#include "base/files/file_path.h"

namespace base {

// process_child_tool.exe, built beside the test executable.
inline FilePath ProcessChildToolPath() {
  wchar_t module[MAX_PATH];
  const DWORD length = ::GetModuleFileNameW(nullptr, module, MAX_PATH);
  return FilePath(std::wstring(module, length))
      .DirName()
      .Append(L"process_child_tool.exe");
}

// The command line that runs the child tool with `switches` (already
// quoted where needed), e.g. L"--exit=3".
inline std::wstring ChildCommandLine(const std::wstring& switches) {
  return L"\"" + ProcessChildToolPath().value() + L"\" " + switches;
}

}  // namespace base

#endif  // BASE_TEST_PROCESS_CHILD_H_
