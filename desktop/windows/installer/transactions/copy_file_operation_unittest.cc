#include "desktop/windows/installer/transactions/copy_file_operation.h"

#include <windows.h>

#include <memory>

#include "base/files/file_enumerator.h"
#include "base/files/file_path.h"
#include "base/log_message.h"
#include "base/process/launch.h"
#include "base/process/process.h"
#include "base/test/ended_process.h"
#include "base/test/scoped_log_capture.h"
#include "base/test/temp_tree.h"
#include "desktop/windows/installer/journal/run_journal.h"
#include "desktop/windows/installer/recovery/interrupted_run_recovery.h"
#include "desktop/windows/installer/transactions/transaction.h"
#include "gtest/gtest.h"

// Copies and moves on real folders, read-only sources among them, are
// covered end to end (tests/e2e/test_file_operations.py).

namespace installer {
namespace {

using base::FilePath;
using base::TempTree;

TEST(CopyFileOperationTest, MissingSourceFailsAndLeavesNoFolderBehind) {
  TempTree tree;
  base::ScopedLogCapture log;
  Transaction transaction;
  EXPECT_FALSE(transaction.ExecuteOperation(std::make_unique<CopyFileOperation>(
      tree.Path(L"missing.dll"), tree.Path(L"app\\bin\\missing.dll"))));
  EXPECT_EQ(log.lines().back(),
            "File copy failed " +
                base::SystemErrorCodeToString(ERROR_FILE_NOT_FOUND));
  EXPECT_TRUE(transaction.empty());
  EXPECT_FALSE(TempTree::Exists(tree.Path(L"app")));
}

TEST(CopyFileOperationTest, FailedCopyOverAFileGivesItBack) {
  TempTree tree;
  const FilePath target = tree.WriteFile(L"app.exe", "installed");
  Transaction transaction;
  EXPECT_FALSE(transaction.ExecuteOperation(std::make_unique<CopyFileOperation>(
      tree.Path(L"missing.exe"), target)));
  EXPECT_EQ("installed", TempTree::ReadFile(target));
}

// The journal the copy wrote, as a run killed in the middle of the copy
// leaves it (the target cut short), leads the next run to remove the
// partial target and give back what was there.
TEST(CopyFileOperationTest, DeadRunsPartialCopyIsRemovedAndTheOldFileBack) {
  const base::Process ended = base::EndedProcess();
  ASSERT_TRUE(ended.IsValid());
  for (const char* existing : {"installed", static_cast<const char*>(nullptr)}) {
    SCOPED_TRACE(existing ? "over a file" : "new file");
    TempTree tree;
    const FilePath source = tree.WriteFile(L"big.pak", std::string(4096, 'n'));
    const FilePath folder = tree.MakeDir(L"Tarvo");
    const FilePath target = folder.Append(L"big.pak");
    if (existing)
      tree.WriteFile(L"Tarvo\\big.pak", existing);
    RunJournal::Get()->Start(folder);
    Transaction transaction;
    ASSERT_TRUE(transaction.ExecuteOperation(
        std::make_unique<CopyFileOperation>(source, target)));
    tree.WriteFile(L"Tarvo\\big.pak", "nnn");
    base::FileEnumerator listing(folder, false, base::FileEnumerator::kFiles,
                                 L"*.journal");
    const FilePath live = listing.Next();
    ASSERT_FALSE(live.empty());
    const FilePath dead = folder.Append(L"installer_run_20261207204000_" +
                                        std::to_wstring(ended.Pid()) +
                                        L".journal");
    ASSERT_TRUE(::CopyFileW(live.value().c_str(), dead.value().c_str(), TRUE));

    EXPECT_TRUE(InterruptedRunRecovery::RecoverFolder(folder).complete());

    EXPECT_EQ(existing ? existing : "<missing>", TempTree::ReadFile(target));
    base::FileEnumerator asides(folder, false, base::FileEnumerator::kFiles,
                                L"*.old");
    EXPECT_TRUE(asides.Next().empty());
    transaction.DestroyOperations();
    RunJournal::Get()->Finish();
  }
}

}  // namespace
}  // namespace installer
