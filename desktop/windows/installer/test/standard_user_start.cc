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
//   standard_user_start.exe --keep-token PROGRAM [ARGUMENTS...]
// starts it with a copy of this process's own token instead, by the same
// call: a benchmark that compares the two roads starts both alike.

#include <windows.h>

#include <cstdio>
#include <string>
#include <string_view>

#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/test/child_command_line.h"
#include "desktop/windows/installer/test/standard_user_token.h"

namespace {

constexpr std::wstring_view kKeepToken = L"--keep-token";

// This process's own token, as a primary one a child can be started with.
base::win::ScopedHandle CopyOwnToken() {
  HANDLE raw_token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(),
                          TOKEN_DUPLICATE | TOKEN_QUERY | TOKEN_ASSIGN_PRIMARY,
                          &raw_token)) {
    return base::win::ScopedHandle();
  }
  const base::win::ScopedHandle token(raw_token);
  HANDLE raw_copy = nullptr;
  if (!::DuplicateTokenEx(token.Get(), 0, nullptr, SecurityImpersonation,
                          TokenPrimary, &raw_copy)) {
    return base::win::ScopedHandle();
  }
  return base::win::ScopedHandle(raw_copy);
}

// Takes "--keep-token" off the front of `child`, if it is there.
bool TakeKeepToken(std::wstring* child) {
  if (child->compare(0, kKeepToken.size(), kKeepToken) != 0 ||
      (child->size() > kKeepToken.size() &&
       (*child)[kKeepToken.size()] != L' ' &&
       (*child)[kKeepToken.size()] != L'\t')) {
    return false;
  }
  const size_t program = child->find_first_not_of(L" \t", kKeepToken.size());
  child->erase(0, program == std::wstring::npos ? child->size() : program);
  return true;
}

}  // namespace

int main() {
  std::wstring child = GetChildCommandLine();
  const bool keep_token = TakeKeepToken(&child);
  if (child.empty()) {
    std::fprintf(stderr,
                 "usage: standard_user_start [--keep-token] PROGRAM "
                 "[ARGUMENTS...]\n");
    return 2;
  }
  const base::win::ScopedHandle token =
      keep_token ? CopyOwnToken() : installer::test::MakeStandardUserToken();
  if (!token.IsValid()) {
    std::fprintf(stderr, "no token to start with: %lu\n", ::GetLastError());
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
