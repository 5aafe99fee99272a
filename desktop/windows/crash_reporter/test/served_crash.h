#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_TEST_SERVED_CRASH_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_TEST_SERVED_CRASH_H_

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "desktop/windows/crash_reporter/crash_pipe_server.h"
#include "desktop/windows/crash_reporter/crash_reporter_names.h"
#include "desktop/windows/crash_reporter/pipe_client_record.h"
#include "desktop/windows/crash_reporter/test/crash_test_support.h"

namespace installer::test {

// Runs crash_child, crashing as `kind` says, as an installer process served
// by a crash pipe server of the test process: `on_crash` runs in the dump
// callback, while the crashed child waits, as the reporter's processing
// does. Returns what the child printed.
inline std::vector<std::string> RunServedCrash(
    const std::wstring& kind,
    const std::function<void(const PipeClientRecord&)>& on_crash,
    DWORD* exit_code) {
  CrashPipeServer::Callbacks callbacks;
  callbacks.on_dump = [](void* context, const PipeClientRecord& client,
                         const std::wstring* dump_path) {
    (*static_cast<const std::function<void(const PipeClientRecord&)>*>(
        context))(client);
  };
  callbacks.dump_context =
      const_cast<std::function<void(const PipeClientRecord&)>*>(&on_crash);
  CrashPipeServer server(GetCrashReporterPipeName(::GetCurrentProcessId()),
                         nullptr, callbacks, false, std::wstring());
  if (!server.Start())
    return {};
  ChildProcess child;
  if (!child.Start(L"crash_child.exe",
                   L"--crash=" + kind + L" --crash-reporter-pid=" +
                       std::to_wstring(::GetCurrentProcessId()))) {
    return {};
  }
  return child.WaitForExit(exit_code);
}

}  // namespace installer::test

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_TEST_SERVED_CRASH_H_
