#include "desktop/windows/installer/service/transactions/copy_file_operation.h"

#include <windows.h>

#include <memory>

#include "base/files/file_path.h"
#include "base/log_message.h"
#include "base/test/scoped_log_capture.h"
#include "base/test/temp_tree.h"
#include "desktop/windows/installer/service/transactions/transaction.h"
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

}  // namespace
}  // namespace installer
