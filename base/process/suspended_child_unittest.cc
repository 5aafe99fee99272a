#include "base/process/suspended_child.h"

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "base/process/launch.h"
#include "base/process/process.h"
#include "base/strings/string_number_conversions.h"
#include "base/test/process_child.h"
#include "base/threading/lock.h"
#include "base/time/time_delta.h"
#include "base/win/scoped_handle.h"
#include "gtest/gtest.h"

namespace base {
namespace {

// Children end by themselves or are ended; a hang is caught by the test
// runner's timeout.
constexpr TimeDelta kChildTimeout = TimeDelta::Max();
// What the child tool ends itself with, and what a child held suspended
// ends with when its starter ends.
constexpr int kStarterExitCode = 3;
constexpr int kUnresumedExitCode = 1;

// Reads one line of the pipe: the process id the starter prints.
DWORD ReadProcessId(HANDLE pipe) {
  std::string line;
  char next = 0;
  DWORD read = 0;
  while (::ReadFile(pipe, &next, 1, &read, nullptr) && read == 1 &&
         next != '\n') {
    line += next;
  }
  uint64_t id = 0;
  return StringToUint64(line, &id) ? static_cast<DWORD>(id) : 0;
}

// A starter (the child tool) holds a child of its own, then ends itself on
// purpose before resuming it: the child held suspended ends with it,
// whether in no job or in a job that would not end it (before Windows 8
// or where the child cannot join a kill-on-close job, nothing else would
// ever resume or end it); one already resumed outlives it.
TEST(SuspendedChild, EndsWithItsStarterUnlessResumed) {
  const struct {
    const wchar_t* how;
    bool outlives;
  } kCases[] = {
      {L"suspended", false},
      {L"in-job", false},
      {L"resumed", true},
  };
  for (const auto& test_case : kCases) {
    SCOPED_TRACE(test_case.how);
    SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
    win::ScopedHandle go(::CreateEventW(&inheritable, TRUE, FALSE, nullptr));
    HANDLE read_end = nullptr;
    HANDLE write_end = nullptr;
    ASSERT_TRUE(::CreatePipe(&read_end, &write_end, &inheritable, 0));
    const win::ScopedHandle reader(read_end);
    win::ScopedHandle writer(write_end);
    const std::vector<HANDLE> inherited = {go.Get(), writer.Get()};
    ProcessLaunchOptions options;
    options.start_hidden = true;
    options.handles_to_inherit = &inherited;
    options.stdout_handle = writer.Get();
    options.stderr_handle = writer.Get();
    Process starter;
    {
      const AutoLock lock(GetProcessLaunchLock());
      starter = LaunchProcess(
          ChildCommandLine(std::wstring(L"--hold-child=") + test_case.how +
                           L" --then-end=" +
                           std::to_wstring(reinterpret_cast<uintptr_t>(
                               go.Get()))),
          options);
    }
    ASSERT_TRUE(starter.IsValid()) << ::GetLastError();
    writer.Close();
    // Opened while its starter still holds it: the id names it alone.
    const Process child = Process::Open(ReadProcessId(reader.Get()));
    ASSERT_TRUE(child.IsValid()) << ::GetLastError();

    ::SetEvent(go.Get());
    int exit_code = -1;
    ASSERT_TRUE(starter.WaitForExitWithTimeout(kChildTimeout, &exit_code));
    EXPECT_EQ(kStarterExitCode, exit_code);

    if (test_case.outlives) {
      EXPECT_FALSE(child.WaitForExitWithTimeout(
          TimeDelta::FromMilliseconds(200), nullptr));
      ::TerminateProcess(child.Handle(), 0);
    } else {
      EXPECT_TRUE(child.WaitForExitWithTimeout(kChildTimeout, &exit_code));
      EXPECT_EQ(kUnresumedExitCode, exit_code);
    }
  }
}

}  // namespace
}  // namespace base
