// Runs a command line in a job object and waits until every process of it
// has ended, not only the one it started: an installer front end may end
// while its backend still finishes (or rolls back) the installation.
//   process_tree_runner.exe PROGRAM [ARGUMENTS...]
// The rest of its own command line, as it stands, is the child's. Prints
// "pid <id>" of the child once it runs, and "exit <code>" with the child's exit code once the whole tree has ended,
// and ends with that code. Closing the runner (a killed test) ends the tree.

#include <windows.h>

#include <cstdio>
#include <string>

#include "base/process/launch.h"
#include "base/process/process.h"
#include "base/win/scoped_handle.h"

namespace {

// The command line after its first token.
std::wstring GetChildCommandLine() {
  const wchar_t* text = ::GetCommandLineW();
  if (*text == L'"') {
    ++text;
    while (*text && *text != L'"')
      ++text;
    if (*text)
      ++text;
  } else {
    while (*text && *text != L' ' && *text != L'\t')
      ++text;
  }
  while (*text == L' ' || *text == L'\t')
    ++text;
  return text;
}

bool WaitForEmptyJob(HANDLE port) {
  DWORD message = 0;
  ULONG_PTR key = 0;
  OVERLAPPED* overlapped = nullptr;
  while (::GetQueuedCompletionStatus(port, &message, &key, &overlapped,
                                     INFINITE)) {
    if (message == JOB_OBJECT_MSG_ACTIVE_PROCESS_ZERO)
      return true;
  }
  return false;
}

}  // namespace

int main() {
  const std::wstring child = GetChildCommandLine();
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
  const base::Process process = base::LaunchProcess(child, options);
  if (!process.IsValid()) {
    std::fprintf(stderr, "cannot start the child: %lu\n", ::GetLastError());
    return 2;
  }
  std::printf("pid %lu\n", ::GetProcessId(process.Handle()));
  std::fflush(stdout);
  int exit_code = 0;
  if (!process.WaitForExit(&exit_code) || !WaitForEmptyJob(port.Get())) {
    std::fprintf(stderr, "cannot wait: %lu\n", ::GetLastError());
    return 2;
  }
  std::printf("exit %d\n", exit_code);
  std::fflush(stdout);
  return exit_code;
}
