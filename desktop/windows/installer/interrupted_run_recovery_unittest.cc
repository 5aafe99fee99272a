#include "desktop/windows/installer/interrupted_run_recovery.h"

#include <windows.h>

#include <memory>
#include <string>

#include "base/files/file_enumerator.h"
#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/process/launch.h"
#include "base/process/process.h"
#include "base/test/scoped_temp_folder.h"
#include "base/win/registry.h"
#include "desktop/windows/installer/service/install_log.h"
#include "desktop/windows/installer/service/transactions/change_reg_value_operation.h"
#include "desktop/windows/installer/service/transactions/delete_reg_key_operation.h"
#include "desktop/windows/installer/service/transactions/run_journal.h"
#include "desktop/windows/installer/service/transactions/transaction.h"
#include "desktop/windows/installer/test/scoped_test_key.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

bool WriteText(const base::FilePath& path, const std::string& text) {
  return base::WriteBufferToFile(path, text.data(),
                                 static_cast<int>(text.size())) ==
         static_cast<int>(text.size());
}

std::string ReadText(const base::FilePath& path) {
  std::string text;
  base::ReadFileToString(path, &text);
  return text;
}

// A process that has ended; the handle keeps its id from being reused
// while the test runs.
base::Process EndedProcess() {
  base::ProcessLaunchOptions options;
  base::Process process =
      base::LaunchProcess(L"cmd.exe /c exit 0", options);
  int exit_code = -1;
  if (process.IsValid())
    process.WaitForExit(&exit_code);
  return process;
}

TEST(InterruptedRunRecoveryTest, ParseOwnerReadsOnlyWholeNames) {
  struct Case {
    const wchar_t* name;
    bool parsed;
    uint32_t pid;
  } const cases[] = {
      {L"tarvo_installer_20261207204000_1234", true, 1234},
      {L"tarvo_installer_20261207204000_1234.exe", true, 1234},
      {L"installer_run_20261207204000_56.journal", true, 56},
      {L"tarvo_installer_2026120720400_1234", false, 0},
      {L"tarvo_installer_20261207204000_", false, 0},
      {L"tarvo_installer_20261207204000_12a4", false, 0},
      {L"_1234", false, 0},
      {L"tarvo_installer", false, 0},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    uint32_t pid = 0;
    EXPECT_EQ(test.parsed, InterruptedRunRecovery::ParseOwner(test.name, &pid));
    if (test.parsed) {
      EXPECT_EQ(test.pid, pid);
    }
  }
}

// A journal as a run that died leaves it: its replay is undone newest
// first, or, once committed, only its set-aside files go.
TEST(InterruptedRunRecoveryTest, DeadRunIsUndoneOrFinishedLiveRunIsLeft) {
  const base::Process ended = EndedProcess();
  ASSERT_TRUE(ended.IsValid());
  for (const bool committed : {false, true}) {
    SCOPED_TRACE(committed ? "committed" : "not committed");
    base::ScopedTempFolder temp;
    const base::FilePath folder = temp.path().Append(L"Tarvo Recovery");
    const base::FilePath version = folder.Append(L"45.0.2548.1");
    const base::FilePath log = folder.Append(kInstallLogName);
    const base::FilePath aside = log.AddExtension(L"1765140000.old");
    const base::FilePath copied = version.Append(L"tarvo.exe");
    // Moved in from the run's package: the move is recorded before its
    // first try, and so before the folder that try found missing.
    const base::FilePath resources = version.Append(L"resources");
    const base::FilePath moved = resources.Append(L"a.pak");
    const base::FilePath package = temp.path().Append(L"package\\a.pak");
    ASSERT_TRUE(base::CreateDirectory(resources));
    ASSERT_TRUE(WriteText(moved, "moved"));
    // A whole folder of the package, moved in with one rename.
    const base::FilePath locales = version.Append(L"locales");
    ASSERT_TRUE(base::CreateDirectory(locales.Append(L"sub")));
    ASSERT_TRUE(WriteText(locales.Append(L"sub\\en.pak"), "moved"));
    ASSERT_TRUE(WriteText(aside, "old log"));
    ASSERT_TRUE(WriteText(log, "new log"));
    ASSERT_TRUE(WriteText(copied, "new"));
    // Not a name the set-aside of the log could have: never moved over it.
    const base::FilePath foreign = folder.Append(L"user.txt");
    ASSERT_TRUE(WriteText(foreign, "mine"));
    std::string text = "folder\t" + version.AsUTF8() + "\n" + "moved\t" +
                       package.AsUTF8() + "\t" + moved.AsUTF8() + "\n" +
                       "folder\t" + resources.AsUTF8() + "\n" + "moved\t" +
                       temp.path().Append(L"package\\locales").AsUTF8() +
                       "\t" + locales.AsUTF8() + "\n" +
                       "aside\t" + log.AsUTF8() + "\t" + aside.AsUTF8() +
                       "\n" + "created\t" + log.AsUTF8() + "\n" +
                       "created\t" + copied.AsUTF8() + "\n" + "aside\t" +
                       log.AsUTF8() + "\t" + foreign.AsUTF8() + "\n";
    if (committed)
      text += "committed\n";
    // Cut short by the kill: dropped.
    text += "created\t" + foreign.AsUTF8();
    const base::FilePath dead = folder.Append(
        L"installer_run_20261207204000_" + std::to_wstring(ended.Pid()) +
        L".journal");
    const base::FilePath live = folder.Append(
        L"installer_run_20261207204000_" +
        std::to_wstring(::GetCurrentProcessId()) + L".journal");
    ASSERT_TRUE(WriteText(dead, text));
    ASSERT_TRUE(WriteText(live, "created\t" + foreign.AsUTF8() + "\n"));

    InterruptedRunRecovery::RecoverFolder(folder);

    EXPECT_FALSE(base::PathExists(dead));
    EXPECT_TRUE(base::PathExists(live));
    EXPECT_EQ("mine", ReadText(foreign));
    EXPECT_FALSE(base::PathExists(aside));
    EXPECT_EQ(committed ? "new log" : "old log", ReadText(log));
    EXPECT_EQ(committed, base::PathExists(copied));
    EXPECT_EQ(committed, base::PathExists(moved));
    EXPECT_EQ(committed, base::PathExists(locales));
    EXPECT_EQ(committed, base::DirectoryExists(version));
  }
}

// A run moved the install log into old_status and wrote a new one, then
// died: before its rollback began, or after the rollback had already put
// the old log back. Either way the old log is what stays.
TEST(InterruptedRunRecoveryTest, FileARollbackPutBackIsKept) {
  const base::Process ended = EndedProcess();
  ASSERT_TRUE(ended.IsValid());
  for (const bool rolled_back : {false, true}) {
    SCOPED_TRACE(rolled_back ? "rolled back" : "not rolled back");
    base::ScopedTempFolder temp;
    const base::FilePath folder = temp.path();
    const base::FilePath log = folder.Append(kInstallLogName);
    const base::FilePath kept =
        folder.Append(L"old_status\\installation_status.xml.1765140000");
    ASSERT_TRUE(base::CreateDirectory(kept.DirName()));
    ASSERT_TRUE(WriteText(log, rolled_back ? "old log" : "new log"));
    if (!rolled_back) {
      ASSERT_TRUE(WriteText(kept, "old log"));
    }
    ASSERT_TRUE(WriteText(
        folder.Append(L"installer_run_20261207204000_" +
                      std::to_wstring(ended.Pid()) + L".journal"),
        "moved\t" + log.AsUTF8() + "\t" + kept.AsUTF8() + "\ncreated\t" +
            log.AsUTF8() + "\n"));

    InterruptedRunRecovery::RecoverFolder(folder);

    EXPECT_EQ("old log", ReadText(log));
    EXPECT_FALSE(base::PathExists(kept));
  }
}

std::wstring ReadValue(const std::wstring& key_path, const wchar_t* name) {
  base::win::RegistryKey key;
  std::wstring value;
  if (key.Open(HKEY_CURRENT_USER, key_path.c_str(), KEY_READ) != ERROR_SUCCESS)
    return L"<no key>";
  return key.ReadString(name, &value) == ERROR_SUCCESS ? value : L"<none>";
}

bool WriteValue(const std::wstring& key_path,
                const wchar_t* name,
                const std::wstring& value) {
  base::win::RegistryKey key;
  return key.Create(HKEY_CURRENT_USER, key_path.c_str(), KEY_ALL_ACCESS) ==
             ERROR_SUCCESS &&
         key.WriteString(name, value.c_str()) == ERROR_SUCCESS;
}

std::unique_ptr<Operation> SetString(const std::wstring& key_path,
                                     const wchar_t* name,
                                     const std::wstring& value) {
  return std::make_unique<ChangeRegValueOperation>(
      HKEY_CURRENT_USER, key_path, name, value.c_str(), REG_SZ,
      static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)), 0);
}

// The registry work of a run, done by the real operations with the
// journal on; the run then "dies": its journal is left under a dead
// process's name and the work stays. The recovery puts back every value
// changed or deleted, every key deleted, and removes what the run added.
TEST(InterruptedRunRecoveryTest, DeadRunsRegistryChangesAreUndone) {
  const base::Process ended = EndedProcess();
  ASSERT_TRUE(ended.IsValid());
  test::ScopedTestKey test_key(HKEY_CURRENT_USER, 0);
  ASSERT_TRUE(test_key.valid());
  const std::wstring kept = test_key.Child(L"Kept");
  const std::wstring deleted = test_key.Child(L"Deleted");
  const std::wstring deleted_sub = deleted + L"\\Sub";
  const std::wstring created = test_key.Child(L"Created\\Deeper");
  ASSERT_TRUE(WriteValue(kept, L"Changed", L"old"));
  ASSERT_TRUE(WriteValue(kept, L"Removed", L"there"));
  ASSERT_TRUE(WriteValue(deleted, L"", L"default"));
  ASSERT_TRUE(WriteValue(deleted_sub, L"Line\tbreak\n", L"sub"));
  base::ScopedTempFolder temp;

  RunJournal* journal = RunJournal::Get();
  journal->Start(temp.path());
  Transaction transaction;
  ASSERT_TRUE(transaction.ExecuteOperation(SetString(kept, L"Changed", L"new")));
  ASSERT_TRUE(transaction.ExecuteOperation(SetString(kept, L"Added", L"new")));
  ASSERT_TRUE(transaction.ExecuteOperation(MakeChangeRegValueOperation(
      HKEY_CURRENT_USER, kept, L"Removed", nullptr, 0, REG_SZ, 0, 0)));
  ASSERT_TRUE(transaction.ExecuteOperation(SetString(created, L"", L"new")));
  ASSERT_TRUE(transaction.ExecuteOperation(
      std::make_unique<DeleteRegKeyOperation>(HKEY_CURRENT_USER, deleted, 0)));
  base::FileEnumerator listing(temp.path(), false,
                               base::FileEnumerator::kFiles, L"*.journal");
  const base::FilePath live = listing.Next();
  ASSERT_FALSE(live.empty());
  const base::FilePath dead = temp.path().Append(
      L"installer_run_20261207204000_" + std::to_wstring(ended.Pid()) +
      L".journal");
  ASSERT_TRUE(::CopyFileW(live.value().c_str(), dead.value().c_str(), TRUE));
  transaction.DestroyOperations();
  journal->Finish();
  ASSERT_EQ(L"new", ReadValue(kept, L"Changed"));
  ASSERT_EQ(L"<no key>", ReadValue(deleted, L""));

  InterruptedRunRecovery::RecoverFolder(temp.path());

  EXPECT_EQ(L"old", ReadValue(kept, L"Changed"));
  EXPECT_EQ(L"<none>", ReadValue(kept, L"Added"));
  EXPECT_EQ(L"there", ReadValue(kept, L"Removed"));
  EXPECT_EQ(L"<no key>", ReadValue(test_key.Child(L"Created"), L""));
  EXPECT_EQ(L"default", ReadValue(deleted, L""));
  EXPECT_EQ(L"sub", ReadValue(deleted_sub, L"Line\tbreak\n"));
}

}  // namespace
}  // namespace installer
