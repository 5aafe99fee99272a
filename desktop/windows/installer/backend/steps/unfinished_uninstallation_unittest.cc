#include "desktop/windows/installer/backend/steps/unfinished_uninstallation.h"

#include <windows.h>

#include <string>

#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/test/scoped_temp_folder.h"
#include "base/test/text_file.h"
#include "desktop/windows/installer/backend/steps/cleanup_batch.h"
#include "desktop/windows/installer/install_log/install_log.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

// Only the record of an uninstallation that is over, with the product
// gone, is finished by another run: not beside an installation, not while
// a process it names still runs, not one the uninstallation did not write.
TEST(UnfinishedUninstallationTest, OnlyADeadUninstallationsRecordIsFinished) {
  const struct {
    const char* label;
    bool names_live_process;
    const wchar_t* beside;
    const char* prefix;
    bool finished;
  } kCases[] = {
      {"dead", false, nullptr, "", true},
      {"live process", true, nullptr, "", false},
      {"installation", false, kInstallLogName, "", false},
      {"former installation", false, kFormerInstallLogName, "", false},
      {"foreign record", false, nullptr, "start evil.exe\n", false},
  };
  for (const auto& test : kCases) {
    SCOPED_TRACE(test.label);
    base::ScopedTempFolder temp;
    const base::FilePath folder = temp.path();
    EXPECT_FALSE(UnfinishedUninstallation::IsIn(folder));
    ASSERT_TRUE(base::WriteTextFile(folder.Append(L"a.dll"), "a"));
    CleanupBatch batch(folder);
    if (test.names_live_process)
      batch.AddProcess(::GetCurrentProcessId());
    ASSERT_TRUE(batch.AddPath(folder.Append(L"a.dll"), false));
    ASSERT_TRUE(base::WriteTextFile(folder.Append(L"k.bat"),
                                    test.prefix + batch.GetText()));
    if (test.beside)
      ASSERT_TRUE(base::WriteTextFile(folder.Append(test.beside), "<x/>"));

    EXPECT_EQ(UnfinishedUninstallation::IsIn(folder), test.finished);
    UnfinishedUninstallation::FinishBeforeInstalling(folder);
    EXPECT_EQ(base::PathExists(folder.Append(L"a.dll")), !test.finished);
    EXPECT_TRUE(base::DirectoryExists(folder));
  }
}

}  // namespace
}  // namespace installer
