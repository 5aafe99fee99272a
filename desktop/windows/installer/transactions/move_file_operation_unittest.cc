#include "desktop/windows/installer/transactions/move_file_operation.h"

#include <windows.h>

#include <memory>

#include "base/files/file_path.h"
#include "base/test/temp_tree.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/transactions/transaction.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

using base::TempTree;

// A same-volume move is a rename that a rollback undoes, putting back a
// file that was in the way; one that cannot rename (here a source held open
// without delete sharing) fails without touching the source, so that the
// caller can copy it instead.
TEST(MoveFileOperationTest, SameVolumeMoveRenamesOrLeavesTheSourceAlone) {
  struct Case {
    const char* name;
    bool hold_source;
    bool target_in_the_way;
  };
  const Case kCases[] = {{"free source", false, false},
                         {"held source", true, false},
                         {"target in the way", false, true}};
  for (const Case& test_case : kCases) {
    SCOPED_TRACE(test_case.name);
    TempTree tree;
    tree.MakeDir(L"package");
    tree.WriteFile(L"package\\a.pak", "payload");
    const base::FilePath source = tree.Path(L"package\\a.pak");
    const base::FilePath target = tree.Path(L"install\\res\\a.pak");
    if (test_case.target_in_the_way) {
      tree.MakeDir(L"install\\res");
      tree.WriteFile(L"install\\res\\a.pak", "old");
    }
    base::win::ScopedHandle held;
    if (test_case.hold_source) {
      held.Set(CreateFileW(source.value().c_str(), GENERIC_READ,
                           FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                           nullptr));
      ASSERT_TRUE(held.IsValid());
    }
    Transaction transaction;
    const bool moved = transaction.ExecuteOperation(
        std::make_unique<MoveFileOperation>(
            source, target, MoveFileOperation::Reach::kSameVolume));
    EXPECT_EQ(!test_case.hold_source, moved);
    EXPECT_EQ(test_case.hold_source, TempTree::Exists(source));
    if (moved) {
      EXPECT_EQ("payload", TempTree::ReadFile(target));
    }
    held.Close();
    transaction.RollbackOperations();
    EXPECT_EQ("payload", TempTree::ReadFile(source));
    if (test_case.target_in_the_way) {
      EXPECT_EQ("old", TempTree::ReadFile(target));
    } else {
      EXPECT_FALSE(TempTree::Exists(tree.Path(L"install")));
    }
  }
}

}  // namespace
}  // namespace installer
