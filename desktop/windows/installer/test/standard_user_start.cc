// Starts a command line as a standard user's start would be made: with this
// process's token filtered as UAC filters an administrator's, the
// administrators' group kept for deny only and every privilege but
// change-notify dropped (CreateRestrictedToken). Under Wine every process
// is an elevated administrator's; the end-to-end tests and the demo start
// the shipped installer through this where they mean a standard user's
// run. Wine checks such a token against the registry's lists (its
// HKEY_LOCAL_MACHINE\Software lets every user write, unlike Windows').
//   standard_user_start.exe PROGRAM [ARGUMENTS...]
// The standard handles are passed on; it waits for the child and ends with
// its exit code (2 when it cannot start it).

#include <windows.h>

#include <cstdio>
#include <string>

#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/test/child_command_line.h"
#include "desktop/windows/installer/test/standard_user_token.h"

int main() {
  std::wstring child = GetChildCommandLine();
  if (child.empty()) {
    std::fprintf(stderr, "usage: standard_user_start PROGRAM [ARGUMENTS...]\n");
    return 2;
  }
  const base::win::ScopedHandle token =
      installer::test::MakeStandardUserToken();
  if (!token.IsValid()) {
    std::fprintf(stderr, "no standard user's token: %lu\n", ::GetLastError());
    return 2;
  }
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = ::GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION started = {};
  if (!::CreateProcessAsUserW(token.Get(), nullptr, child.data(), nullptr,
                              nullptr, TRUE, 0, nullptr, nullptr, &startup,
                              &started)) {
    std::fprintf(stderr, "cannot start: %lu\n", ::GetLastError());
    return 2;
  }
  const base::win::ScopedHandle process(started.hProcess);
  const base::win::ScopedHandle thread(started.hThread);
  ::WaitForSingleObject(process.Get(), INFINITE);
  DWORD exit_code = 2;
  ::GetExitCodeProcess(process.Get(), &exit_code);
  return static_cast<int>(exit_code);
}
