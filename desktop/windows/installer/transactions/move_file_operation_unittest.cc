#include "desktop/windows/installer/transactions/move_file_operation.h"

#include <windows.h>

#include <memory>
#include <string>

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
// caller can copy it instead. A name that makes the path longer than
// MAX_PATH moves and moves back all the same.
TEST(MoveFileOperationTest, SameVolumeMoveRenamesOrLeavesTheSourceAlone) {
  struct Case {
    const char* name;
    bool hold_source;
    bool target_in_the_way;
    bool long_name;
  };
  const Case kCases[] = {{"free source", false, false, false},
                         {"held source", true, false, false},
                         {"target in the way", false, true, false},
                         {"long name", false, false, true}};
  for (const Case& test_case : kCases) {
    SCOPED_TRACE(test_case.name);
    TempTree tree;
    tree.MakeDir(L"package");
    const std::wstring name =
        test_case.long_name ? std::wstring(251, L'n') + L".pak" : L"a.pak";
    tree.WriteFile((L"package\\" + name).c_str(), "payload");
    const base::FilePath source = tree.Path((L"package\\" + name).c_str());
    const base::FilePath target = tree.Path((L"install\\res\\" + name).c_str());
    ASSERT_EQ(test_case.long_name, target.value().size() > MAX_PATH);
    if (test_case.target_in_the_way) {
      tree.MakeDir(L"install\\res");
      tree.WriteFile((L"install\\res\\" + name).c_str(), "old");
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
