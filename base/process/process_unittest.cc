#include "base/process/process.h"

#include <windows.h>

#include <cstdint>
#include <string>
#include <utility>

#include "base/process/launch.h"
#include "base/process/termination_status.h"
#include "base/test/process_child.h"
#include "base/win/scoped_handle.h"
#include "gtest/gtest.h"

namespace base {
namespace {

// Children end by themselves; a hang is caught by the test runner's timeout.
constexpr TimeDelta kChildTimeout = TimeDelta::Max();

Process Launch(const std::wstring& command_line) {
  ProcessLaunchOptions options;
  options.start_hidden = true;
  return LaunchProcess(command_line, options);
}

TEST(Process, CurrentStandsForThisProcessWithoutOwningAHandle) {
  const Process current = Process::Current();
  EXPECT_TRUE(current.IsValid());
  EXPECT_EQ(::GetCurrentProcess(), current.Handle());
  EXPECT_EQ(::GetCurrentProcessId(), current.Pid());
}

TEST(Process, OpenAndMove) {
  Process child = Launch(ChildCommandLine(L"--sleep=60000"));
  ASSERT_TRUE(child.IsValid());
  Process opened = Process::Open(child.Pid());
  ASSERT_TRUE(opened.IsValid());
  EXPECT_EQ(child.Pid(), opened.Pid());

  Process moved = std::move(opened);
  EXPECT_FALSE(opened.IsValid());
  EXPECT_TRUE(moved.IsValid());
  // Opened with terminate rights.
  EXPECT_TRUE(::TerminateProcess(moved.Handle(), 7));
  int exit_code = 0;
  EXPECT_TRUE(child.WaitForExitWithTimeout(kChildTimeout, &exit_code));
  EXPECT_EQ(7, exit_code);

  Process current = Process::Current();
  Process taken = std::move(current);
  EXPECT_FALSE(current.IsValid());
  EXPECT_EQ(::GetCurrentProcessId(), taken.Pid());
}

TEST(Process, OpenOfANonexistentProcessIsInvalid) {
  // Ids are multiples of 4, so this one can never exist.
  EXPECT_FALSE(Process::Open(0x7FFFFFFE).IsValid());
}

TEST(Process, WaitTimesOutOnARunningChild) {
  const Process child = Launch(ChildCommandLine(L"--sleep=60000"));
  ASSERT_TRUE(child.IsValid());
  const TimeDelta short_waits[] = {TimeDelta::FromMicroseconds(-5),
                                   TimeDelta::FromMicroseconds(1500),
                                   TimeDelta::FromMilliseconds(50)};
  for (TimeDelta wait : short_waits) {
    int exit_code = 12345;
    // A wait that ran to the child's end would report its exit instead.
    EXPECT_FALSE(child.WaitForExitWithTimeout(wait, &exit_code));
    EXPECT_EQ(12345, exit_code);
  }
  ::TerminateProcess(child.Handle(), 1);
  EXPECT_TRUE(child.WaitForExitWithTimeout(TimeDelta::Max(), nullptr));
}

// Real children end in each way the classification knows.
TEST(TerminationStatus, ExitCodesOfRealChildren) {
  struct Case {
    const wchar_t* command;  // Arguments of cmd.exe, or of the child tool.
    bool child_tool;
    TerminationStatus status;
    uint32_t exit_code;
  };
  const Case cases[] = {
      {L"/c exit 0", false, TerminationStatus::kNormalTermination, 0},
      {L"/c exit 1", false, TerminationStatus::kProcessWasKilled, 1},
      {L"/c exit 3", false, TerminationStatus::kProcessCrashed, 3},
      {L"/c exit 7012", false, TerminationStatus::kOutOfMemory, 7012},
      {L"/c exit -536870904", false, TerminationStatus::kOutOfMemory,
       0xE0000008},
      {L"/c exit -1073741510", false, TerminationStatus::kProcessWasKilled,
       0xC000013A},
      {L"/c exit 1073807364", false, TerminationStatus::kProcessWasKilled,
       0x40010004},
      {L"--crash", true, TerminationStatus::kProcessCrashed, 0xC0000005},
      {L"--exit=42", true, TerminationStatus::kProcessCrashed, 42},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(std::string(test.command, test.command + wcslen(test.command)));
    const std::wstring command_line =
        test.child_tool ? ChildCommandLine(test.command)
                        : std::wstring(L"cmd.exe ") + test.command;
    const Process child = Launch(command_line);
    ASSERT_TRUE(child.IsValid());
    int waited_code = 0;
    ASSERT_TRUE(child.WaitForExit(&waited_code));
    EXPECT_EQ(test.exit_code, static_cast<uint32_t>(waited_code));
    int exit_code = 0;
    EXPECT_EQ(test.status, GetTerminationStatus(child.Handle(), &exit_code));
    EXPECT_EQ(test.exit_code, static_cast<uint32_t>(exit_code));
  }
}

TEST(TerminationStatus, RunningChildThenKilled) {
  const Process child = Launch(ChildCommandLine(L"--sleep=60000"));
  ASSERT_TRUE(child.IsValid());
  int exit_code = 0;
  EXPECT_EQ(TerminationStatus::kStillRunning,
            GetTerminationStatus(child.Handle(), &exit_code));
  EXPECT_EQ(static_cast<int>(WAIT_TIMEOUT), exit_code);
  ASSERT_TRUE(::TerminateProcess(child.Handle(), 1));
  ASSERT_TRUE(child.WaitForExitWithTimeout(kChildTimeout, nullptr));
  EXPECT_EQ(TerminationStatus::kProcessWasKilled,
            GetTerminationStatus(child.Handle(), &exit_code));
  EXPECT_EQ(1, exit_code);
}

TEST(TerminationStatus, ChildThatExitsWithStillActiveEndedAbnormally) {
  const Process child = Launch(ChildCommandLine(L"--exit=259"));
  ASSERT_TRUE(child.IsValid());
  ASSERT_EQ(static_cast<DWORD>(WAIT_OBJECT_0),
            ::WaitForSingleObject(child.Handle(), INFINITE));
  int exit_code = -1;
  EXPECT_EQ(TerminationStatus::kAbnormalTermination,
            GetTerminationStatus(child.Handle(), &exit_code));
  EXPECT_EQ(-1, exit_code);
}

TEST(TerminationStatus, UnreadableExitCodeIsNoNormalEnd) {
  const Process child = Launch(ChildCommandLine(L"--exit=0"));
  ASSERT_TRUE(child.IsValid());
  ASSERT_TRUE(child.WaitForExitWithTimeout(kChildTimeout, nullptr));
  HANDLE synchronize_only = nullptr;
  ASSERT_TRUE(::DuplicateHandle(::GetCurrentProcess(), child.Handle(),
                                ::GetCurrentProcess(), &synchronize_only,
                                SYNCHRONIZE, FALSE, 0));
  win::ScopedHandle no_query_rights(synchronize_only);
  win::ScopedHandle not_a_process(::CreateEventW(nullptr, TRUE, TRUE, nullptr));
  for (HANDLE handle : {no_query_rights.Get(), not_a_process.Get()}) {
    int exit_code = -1;
    EXPECT_EQ(TerminationStatus::kAbnormalTermination,
              GetTerminationStatus(handle, &exit_code));
    EXPECT_EQ(-1, exit_code);
  }
}

}  // namespace
}  // namespace base
