#include "desktop/windows/installer/transactions/create_folder_operation.h"

#include <windows.h>

#include <memory>

#include "base/files/file_path.h"
#include "base/test/scoped_log_capture.h"
#include "base/test/temp_tree.h"
#include "base/test/unix_link.h"
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

// Three levels made, then one of them swapped for a link to a folder
// outside holding the same empty levels: the rollback removes nothing
// through the link, and nothing the link leads to.
TEST(CreateFolderOperationTest, RollbackRemovesNothingThroughALink) {
  const struct {
    const char* name;
    // Moved aside and replaced by a link to the same name below "out";
    // null: nothing planted.
    const wchar_t* swapped;
    bool made_levels_removed;
  } kCases[] = {
      {"plain", nullptr, true},
      {"deepest swapped", L"inst\\x\\y\\z", false},
      {"level above swapped", L"inst\\x", false},
  };
  for (const auto& test : kCases) {
    SCOPED_TRACE(test.name);
    TempTree tree;
    tree.MakeDir(L"inst");
    tree.MakeDir(L"out\\inst\\x\\y\\z");
    std::unique_ptr<base::ScopedUnixLink> link;
    Transaction transaction;
    ASSERT_TRUE(transaction.ExecuteOperation(
        MakeCreateFolderOperation(tree.Path(L"inst\\x\\y\\z"))));
    if (test.swapped) {
      const FilePath swapped = tree.Path(test.swapped);
      ASSERT_TRUE(::MoveFileW(swapped.value().c_str(),
                              swapped.AddExtension(L"moved").value().c_str()));
      link = std::make_unique<base::ScopedUnixLink>(
          swapped, tree.root().Append(L"out").Append(test.swapped));
      if (!link->made())
        GTEST_SKIP() << "No Unix link can be made here";
    }
    transaction.RollbackOperations();
    EXPECT_EQ(TempTree::Exists(tree.Path(L"inst\\x")),
              !test.made_levels_removed);
    EXPECT_TRUE(TempTree::Exists(tree.Path(L"inst")));
    EXPECT_TRUE(TempTree::Exists(tree.Path(L"out\\inst\\x\\y\\z")));
  }
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
