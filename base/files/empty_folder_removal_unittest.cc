#include "base/files/empty_folder_removal.h"

#include <memory>
#include <utility>
#include <vector>

#include "base/files/resolved_entry.h"
#include "base/test/temp_tree.h"
#include "base/test/unix_link.h"
#include "gtest/gtest.h"

namespace base {
namespace {

// Each folder is named by its final path, as a caller that judged it does;
// links are planted in its place, or in the place of a folder above it,
// after that judgement. Only the very folder goes, and only when empty:
// never an empty folder a link leads to.
TEST(EmptyFolderRemovalTest, RemovesOnlyThatEmptyFolderNeverThroughALink) {
  TempTree tree;
  tree.MakeDir(L"inst\\empty");
  tree.MakeDir(L"inst\\Lettered");
  tree.MakeDir(L"inst\\full");
  tree.WriteFile(L"inst\\full\\f.txt", "f");
  tree.WriteFile(L"inst\\file.txt", "file");
  tree.MakeDir(L"out\\target");
  std::vector<std::unique_ptr<ScopedUnixLink>> links;
  for (const auto& [link, target] : {std::pair{L"inst\\link", L"out\\target"},
                                     std::pair{L"inst\\via", L"out"}}) {
    links.push_back(
        std::make_unique<ScopedUnixLink>(tree.Path(link), tree.Path(target)));
    if (!links.back()->made())
      GTEST_SKIP() << "No Unix link can be made here";
  }
  const FilePath root = ResolvedEntry::GetFinalPath(tree.root());
  ASSERT_FALSE(root.empty());
  const struct {
    const wchar_t* folder;
    EmptyFolderRemoval removal;
    // What must still be there afterwards; null: nothing checked.
    const wchar_t* kept;
  } kCases[] = {
      {L"inst\\empty", EmptyFolderRemoval::kRemoved, nullptr},
      // The file system's case is not the caller's spelling.
      {L"inst\\LETTERED", EmptyFolderRemoval::kRemoved, nullptr},
      {L"inst\\full", EmptyFolderRemoval::kFailed, L"inst\\full\\f.txt"},
      {L"inst\\none", EmptyFolderRemoval::kMissing, nullptr},
      {L"inst\\file.txt", EmptyFolderRemoval::kRefused, L"inst\\file.txt"},
      // The folder itself swapped for a link to an empty folder.
      {L"inst\\link", EmptyFolderRemoval::kRefused, L"out\\target"},
      // A folder above it swapped for a link: by its name, the empty
      // folder the link leads to would go.
      {L"inst\\via\\target", EmptyFolderRemoval::kRefused, L"out\\target"},
  };
  for (const auto& test : kCases) {
    SCOPED_TRACE(FilePath(test.folder).AsUTF8());
    EXPECT_EQ(RemoveEmptyFolderAt(root.Append(test.folder)), test.removal);
    EXPECT_EQ(TempTree::Exists(tree.Path(test.folder)),
              test.removal != EmptyFolderRemoval::kRemoved &&
                  test.removal != EmptyFolderRemoval::kMissing);
    if (test.kept)
      EXPECT_TRUE(TempTree::Exists(tree.Path(test.kept)));
  }
}

}  // namespace
}  // namespace base
