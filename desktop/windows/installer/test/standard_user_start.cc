// Starts a command line as a standard user's start would be made: with this
// process's token filtered as UAC filters an administrator's, the
// administrators' group kept for deny only and every privilege but
// change-notify dropped (CreateRestrictedToken). Under Wine every process
// is an elevated administrator's; the end-to-end tests and the demo start
// the shipped installer through this where they mean a standard user's
// run. Such a token cannot write what only the administrators may (Wine
// enforces the registry's lists: HKEY_LOCAL_MACHINE among them).
//   standard_user_start.exe PROGRAM [ARGUMENTS...]
// The standard handles are passed on; it waits for the child and ends with
// its exit code (2 when it cannot start it).

#include <windows.h>

#include <cstdio>
#include <string>

#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/test/child_command_line.h"

namespace {

base::win::ScopedHandle MakeStandardUserToken() {
  HANDLE raw_token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(),
                          TOKEN_DUPLICATE | TOKEN_QUERY | TOKEN_ASSIGN_PRIMARY,
                          &raw_token)) {
    return base::win::ScopedHandle();
  }
  const base::win::ScopedHandle token(raw_token);
  BYTE administrators[SECURITY_MAX_SID_SIZE];
  DWORD size = sizeof(administrators);
  if (!::CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr,
                            administrators, &size)) {
    return base::win::ScopedHandle();
  }
  SID_AND_ATTRIBUTES deny_only = {administrators, 0};
  HANDLE restricted = nullptr;
  if (!::CreateRestrictedToken(token.Get(), DISABLE_MAX_PRIVILEGE, 1,
                               &deny_only, 0, nullptr, 0, nullptr,
                               &restricted)) {
    return base::win::ScopedHandle();
  }
  return base::win::ScopedHandle(restricted);
}

}  // namespace

int main() {
  std::wstring child = GetChildCommandLine();
  if (child.empty()) {
    std::fprintf(stderr, "usage: standard_user_start PROGRAM [ARGUMENTS...]\n");
    return 2;
  }
  const base::win::ScopedHandle token = MakeStandardUserToken();
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
