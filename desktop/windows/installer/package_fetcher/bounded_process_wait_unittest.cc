#include "desktop/windows/installer/package_fetcher/bounded_process_wait.h"

#include <windows.h>

#include <string>

#include "base/files/file_path.h"
#include "base/process/launch.h"
#include "base/process/process.h"
#include "base/win/scoped_handle.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

// The base library's child tool, built in the base folder of the build.
base::Process StartChild(const std::wstring& switches) {
  wchar_t module[MAX_PATH];
  const DWORD length = ::GetModuleFileNameW(nullptr, module, MAX_PATH);
  const base::FilePath tool = base::FilePath(std::wstring(module, length))
                                  .DirName()
                                  .Append(L"..\\..\\base\\process_child_tool.exe");
  return base::LaunchProcess(L"\"" + tool.value() + L"\" " + switches,
                             base::ProcessLaunchOptions());
}

bool HasEnded(const base::Process& process) {
  return ::WaitForSingleObject(process.Handle(), INFINITE) == WAIT_OBJECT_0;
}

TEST(BoundedProcessWaitTest, ExitCodeOfAProcessThatEnds) {
  const base::Process child = StartChild(L"--exit=3");
  ASSERT_TRUE(child.IsValid());
  DWORD exit_code = 0;
  EXPECT_EQ(WaitForProcessWithLimit(child, nullptr, INFINITE, &exit_code),
            ProcessWaitOutcome::kExited);
  EXPECT_EQ(exit_code, 3u);
}

TEST(BoundedProcessWaitTest, ProcessPastTheLimitIsEnded) {
  const base::Process child = StartChild(L"--sleep=3600000");
  ASSERT_TRUE(child.IsValid());
  DWORD exit_code = 0;
  EXPECT_EQ(WaitForProcessWithLimit(child, nullptr, 0, &exit_code),
            ProcessWaitOutcome::kTimedOut);
  EXPECT_TRUE(HasEnded(child));
}

TEST(BoundedProcessWaitTest, StopEventEndsTheWaitAndTheProcess) {
  const base::Process child = StartChild(L"--sleep=3600000");
  ASSERT_TRUE(child.IsValid());
  const base::win::ScopedHandle stop(::CreateEventW(nullptr, TRUE, TRUE, nullptr));
  DWORD exit_code = 0;
  EXPECT_EQ(WaitForProcessWithLimit(child, stop.Get(), INFINITE, &exit_code),
            ProcessWaitOutcome::kStopped);
  EXPECT_TRUE(HasEnded(child));
}

}  // namespace
}  // namespace installer
