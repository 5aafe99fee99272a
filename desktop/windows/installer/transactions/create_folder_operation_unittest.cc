#include "desktop/windows/installer/transactions/create_folder_operation.h"

#include "base/files/file_path.h"
#include "base/test/scoped_log_capture.h"
#include "base/test/temp_tree.h"
#include "desktop/windows/installer/transactions/transaction.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

using base::FilePath;
using base::TempTree;

TEST(CreateFolderOperationTest, ExistingFolderIsKeptByRollback) {
  TempTree tree;
  const FilePath folder = tree.MakeDir(L"app");
  Transaction transaction;
  ASSERT_TRUE(transaction.ExecuteOperation(MakeCreateFolderOperation(folder)));
  EXPECT_EQ(transaction.size(), 1u);
  transaction.RollbackOperations();
  EXPECT_TRUE(TempTree::Exists(folder));
}

// Three levels made; the middle one gains a file meanwhile: only the
// deepest goes, and nothing at or above the folder that was there.
TEST(CreateFolderOperationTest, RollbackStopsAtFolderThatIsNotEmpty) {
  TempTree tree;
  Transaction transaction;
  ASSERT_TRUE(transaction.ExecuteOperation(
      MakeCreateFolderOperation(tree.Path(L"a\\b\\c"))));
  tree.WriteFile(L"a\\b\\user.txt", "mine");
  transaction.RollbackOperations();
  EXPECT_FALSE(TempTree::Exists(tree.Path(L"a\\b\\c")));
  EXPECT_TRUE(TempTree::Exists(tree.Path(L"a\\b\\user.txt")));
  EXPECT_TRUE(TempTree::Exists(tree.root()));
}

TEST(CreateFolderOperationTest, FileInTheWayFailsAndStaysAFile) {
  TempTree tree;
  const FilePath file = tree.WriteFile(L"a", "not a folder");
  base::ScopedLogCapture log;
  Transaction transaction;
  EXPECT_FALSE(transaction.ExecuteOperation(
      MakeCreateFolderOperation(file.Append(L"b\\c"))));
  EXPECT_EQ(log.lines().back(), "Failed folder creation");
  EXPECT_TRUE(transaction.empty());
  EXPECT_EQ(TempTree::ReadFile(file), "not a folder");
}

}  // namespace
}  // namespace installer
