#include "desktop/windows/installer/service/transactions/copy_file_operation.h"

#include <windows.h>

#include <memory>

#include "base/files/file_path.h"
#include "base/log_message.h"
#include "base/test/scoped_log_capture.h"
#include "base/test/temp_tree.h"
#include "desktop/windows/installer/service/transactions/move_file_operation.h"
#include "desktop/windows/installer/service/transactions/transaction.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

using base::FilePath;
using base::TempTree;

bool IsReadOnly(const FilePath& path) {
  return ::GetFileAttributesW(path.value().c_str()) & FILE_ATTRIBUTE_READONLY;
}

// A read-only source loses the bit for the copy or move, and gets it back
// when that is undone; what was copied or moved is never read-only.
TEST(CopyFileOperationTest, ReadOnlySourceIsClearedAndRestoredByRollback) {
  for (const bool move : {false, true}) {
    SCOPED_TRACE(move ? "move" : "copy");
    TempTree tree;
    const FilePath source =
        tree.WriteFile(L"source.dll", "payload", FILE_ATTRIBUTE_READONLY);
    const FilePath target = tree.Path(L"app\\target.dll");
    std::unique_ptr<Operation> operation;
    if (move)
      operation = std::make_unique<MoveFileOperation>(source, target);
    else
      operation = std::make_unique<CopyFileOperation>(source, target);
    Transaction transaction;
    ASSERT_TRUE(transaction.ExecuteOperation(std::move(operation)));
    EXPECT_EQ(TempTree::ReadFile(target), "payload");
    EXPECT_FALSE(IsReadOnly(target));
    EXPECT_EQ(TempTree::Exists(source), !move);

    transaction.RollbackOperations();
    EXPECT_FALSE(TempTree::Exists(tree.Path(L"app")));
    EXPECT_EQ(TempTree::ReadFile(source), "payload");
    EXPECT_TRUE(IsReadOnly(source));
  }
}

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

}  // namespace
}  // namespace installer
