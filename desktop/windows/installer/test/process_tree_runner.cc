// Runs a command line in a job object and waits until every process of it
// has ended, not only the one it started: an installer front end may end
// while its backend still finishes (or rolls back) the installation.
//   process_tree_runner.exe [--standard-user] PROGRAM [ARGUMENTS...]
//   process_tree_runner.exe [--standard-user] @FILE
// The rest of its own command line, as it stands, is the child's; with
// @FILE it is FILE's UTF-8 text, as it stands (a command line that Wine
// would quote otherwise, such as one read from the registry). Prints
// "pid <id>" of the child once it runs, and "exit <code>" with the child's
// exit code once the whole tree has ended, and ends with that code. Killing
// the runner (a test's hang guard) ends the tree. With --standard-user the
// child runs with a standard user's token (standard_user_token.h), as a
// test starts a standard user's run: under Wine every process is an
// elevated administrator's.
//
// Wine starts its desktop process, explorer.exe, from the first process of
// a prefix that needs it, which may be one of the tree's: it runs on for
// the whole prefix, so it is not waited for, and survives the runner.

#include <windows.h>

#include <cstdio>
#include <string>
#include <string_view>

#include "base/process/launch.h"
#include "base/process/process.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/test/child_command_line.h"
#include "desktop/windows/installer/test/standard_user_token.h"

namespace {

std::wstring GetImageBaseName(DWORD process_id) {
  base::win::ScopedHandle process(
      ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process_id));
  wchar_t path[MAX_PATH];
  DWORD length = MAX_PATH;
  if (!process.IsValid() ||
      !::QueryFullProcessImageNameW(process.Get(), 0, path, &length)) {
    return std::wstring();
  }
  const std::wstring image(path, length);
  return image.substr(image.find_last_of(L'\\') + 1);
}

// Whether every process still in the job is Wine's desktop process. A process
// that ended meanwhile has no image name any more and counts as gone.
bool OnlyDesktopProcessLeft(HANDLE job) {
  struct {
    JOBOBJECT_BASIC_PROCESS_ID_LIST list;
    ULONG_PTR more_ids[255];
  } ids = {};
  ids.list.NumberOfAssignedProcesses = 256;
  if (!::QueryInformationJobObject(job, JobObjectBasicProcessIdList, &ids,
                                   sizeof(ids), nullptr)) {
    return false;
  }
  for (DWORD i = 0; i < ids.list.NumberOfProcessIdsInList; ++i) {
    const std::wstring name =
        GetImageBaseName(static_cast<DWORD>(ids.list.ProcessIdList[i]));
    if (!name.empty() && _wcsicmp(name.c_str(), L"explorer.exe") != 0)
      return false;
  }
  return true;
}

// Each process that leaves the job posts a message to the port; the list is
// looked at again after each, and at least once a second in case Wine
// drops one.
bool WaitForTreeEnd(HANDLE job, HANDLE port) {
  constexpr DWORD kRecheckMs = 1000;
  while (!OnlyDesktopProcessLeft(job)) {
    DWORD message = 0;
    ULONG_PTR key = 0;
    OVERLAPPED* overlapped = nullptr;
    if (!::GetQueuedCompletionStatus(port, &message, &key, &overlapped,
                                     kRecheckMs) &&
        ::GetLastError() != WAIT_TIMEOUT) {
      return false;
    }
  }
  return true;
}

// The child with a standard user's token, in `job` before it runs, with our
// environment: base::LaunchProcess would give it the token's own.
base::Process LaunchAsStandardUser(std::wstring child, HANDLE job) {
  const base::win::ScopedHandle token = installer::test::MakeStandardUserToken();
  STARTUPINFOW startup = {sizeof(startup)};
  PROCESS_INFORMATION started = {};
  if (!token.IsValid() ||
      !::CreateProcessAsUserW(token.Get(), nullptr, child.data(), nullptr,
                              nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                              nullptr, &startup, &started)) {
    return base::Process();
  }
  base::Process process(started.hProcess);
  const base::win::ScopedHandle thread(started.hThread);
  if (!::AssignProcessToJobObject(job, process.Handle())) {
    ::TerminateProcess(process.Handle(), 2);
    return base::Process();
  }
  ::ResumeThread(thread.Get());
  return process;
}

}  // namespace

// The child's command line from "@FILE"; empty when it cannot be read.
std::wstring ReadCommandLineFile(const std::wstring& name) {
  FILE* file = _wfopen(name.c_str(), L"rb");
  if (!file)
    return std::wstring();
  std::string text;
  char buffer[4096];
  size_t read = 0;
  while ((read = std::fread(buffer, 1, sizeof(buffer), file)) > 0)
    text.append(buffer, read);
  std::fclose(file);
  const int size = ::MultiByteToWideChar(CP_UTF8, 0, text.data(),
                                         static_cast<int>(text.size()),
                                         nullptr, 0);
  std::wstring wide(static_cast<size_t>(size), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                        wide.data(), size);
  return wide;
}

int main() {
  std::wstring child = GetChildCommandLine();
  constexpr std::wstring_view kStandardUser = L"--standard-user ";
  const bool standard_user = child.starts_with(kStandardUser);
  if (standard_user)
    child.erase(0, kStandardUser.size());
  if (child.size() > 1 && child[0] == L'@')
    child = ReadCommandLineFile(child.substr(1));
  if (child.empty()) {
    std::fprintf(stderr, "usage: process_tree_runner PROGRAM [ARGUMENTS...]\n");
    return 2;
  }
  base::win::ScopedHandle job(::CreateJobObjectW(nullptr, nullptr));
  base::win::ScopedHandle port(
      ::CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1));
  JOBOBJECT_ASSOCIATE_COMPLETION_PORT association = {};
  association.CompletionKey = job.Get();
  association.CompletionPort = port.Get();
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (!job.IsValid() || !port.IsValid() ||
      !::SetInformationJobObject(job.Get(),
                                 JobObjectAssociateCompletionPortInformation,
                                 &association, sizeof(association)) ||
      !::SetInformationJobObject(job.Get(), JobObjectExtendedLimitInformation,
                                 &limits, sizeof(limits))) {
    std::fprintf(stderr, "cannot set up the job: %lu\n", ::GetLastError());
    return 2;
  }
  base::ProcessLaunchOptions options;
  options.job = job.Get();
  const base::Process process = standard_user
                                    ? LaunchAsStandardUser(child, job.Get())
                                    : base::LaunchProcess(child, options);
  if (!process.IsValid()) {
    std::fprintf(stderr, "cannot start the child: %lu\n", ::GetLastError());
    return 2;
  }
  std::printf("pid %lu\n", ::GetProcessId(process.Handle()));
  std::fflush(stdout);
  int exit_code = 0;
  if (!process.WaitForExit(&exit_code) ||
      !WaitForTreeEnd(job.Get(), port.Get())) {
    std::fprintf(stderr, "cannot wait: %lu\n", ::GetLastError());
    return 2;
  }
  // Closing the job must not end the desktop process.
  limits.BasicLimitInformation.LimitFlags = 0;
  ::SetInformationJobObject(job.Get(), JobObjectExtendedLimitInformation,
                            &limits, sizeof(limits));
  std::printf("exit %d\n", exit_code);
  std::fflush(stdout);
  return exit_code;
}
