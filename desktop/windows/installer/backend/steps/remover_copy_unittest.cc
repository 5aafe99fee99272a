#include "desktop/windows/installer/backend/steps/remover_copy.h"

#include <windows.h>

#include <string>

#include "base/files/file_path.h"
#include "base/path_service.h"
#include "base/win/scoped_handle.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

// The copy waits for the processes of the record's ids: one started after
// the process that starts the copy may have taken over the id of one that
// ended, and is never waited for; nor is an id no process has.
TEST(RemoverCopyTest, OpensOnlyProcessesNotNewerThanThisOne) {
  base::FilePath system;
  ASSERT_TRUE(base::GetPathForKey(base::kSystemDir, &system));
  // Suspended: it stays until ended here, whatever the machine's pace.
  std::wstring command = L"\"" + system.Append(L"cmd.exe").value() + L"\"";
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION started = {};
  ASSERT_TRUE(::CreateProcessW(nullptr, command.data(), nullptr, nullptr,
                               FALSE, CREATE_SUSPENDED | CREATE_NO_WINDOW,
                               nullptr, nullptr, &startup, &started));
  const base::win::ScopedHandle newer(started.hProcess);
  const base::win::ScopedHandle thread(started.hThread);

  EXPECT_FALSE(RemoverCopy::OpenOlderProcess(started.dwProcessId).IsValid());
  EXPECT_TRUE(
      RemoverCopy::OpenOlderProcess(::GetCurrentProcessId()).IsValid());
  EXPECT_FALSE(RemoverCopy::OpenOlderProcess(0).IsValid());

  ::TerminateProcess(newer.Get(), 0);
  ::WaitForSingleObject(newer.Get(), INFINITE);
}

}  // namespace
}  // namespace installer
