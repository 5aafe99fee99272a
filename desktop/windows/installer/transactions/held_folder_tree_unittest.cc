#include "desktop/windows/installer/transactions/held_folder_tree.h"

#include <windows.h>

#include <memory>

#include "base/files/file_enumerator.h"
#include "base/files/file_path.h"
#include "base/files/held_folder.h"
#include "base/test/temp_tree.h"
#include "base/test/unix_link.h"
#include "desktop/windows/installer/paths/local_path.h"
#include "desktop/windows/installer/transactions/transaction.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

using base::FilePath;
using base::TempTree;

// A first installation's folder, missing, is made from the nearest folder
// there, held from the volume's root down: the folder above swapped for a
// link since the path was judged (to a folder that holds the installation
// folder's name or not) is refused and nothing is made where it leads. Every level made is held
// against renaming, yet listed by name and held again from the volume's
// root (by the package's own backend); the rollback takes away every level
// made and nothing that was there.
TEST(HeldFolderTreeTest, MissingRootIsMadeOnlyThroughFoldersItHolds) {
  enum class Above { kMissing, kThere, kLink, kLinkToTheName };
  const struct {
    const char* label;
    Above above;
  } kCases[] = {
      {"both levels missing", Above::kMissing},
      {"the folder alone missing", Above::kThere},
      {"the folder above a link", Above::kLink},
      {"the folder above a link to a folder of its name",
       Above::kLinkToTheName},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    TempTree tree;
    TempTree outside;
    const FilePath above = tree.Path(L"Tools");
    const FilePath root = above.Append(L"Tarvo");
    if (c.above == Above::kThere)
      tree.MakeDir(L"Tools");
    if (c.above == Above::kLinkToTheName)
      outside.MakeDir(L"Tarvo");
    const bool linked =
        c.above == Above::kLink || c.above == Above::kLinkToTheName;
    // Judged without a link on the way; swapped only then.
    ASSERT_FALSE(IsReachedThroughLink(ResolveLocalPath(root)));
    std::unique_ptr<base::ScopedUnixLink> link;
    if (linked) {
      link = std::make_unique<base::ScopedUnixLink>(above, outside.root());
      ASSERT_TRUE(link->made());
    }
    HeldFolderTree held_folders(root);
    Transaction transaction;

    const bool held =
        held_folders.Folder(root.Append(L"1.0"), &transaction) != nullptr;

    EXPECT_EQ(!linked, held);
    if (linked) {
      EXPECT_EQ(static_cast<DWORD>(ERROR_CANT_RESOLVE_FILENAME),
                ::GetLastError());
      EXPECT_FALSE(TempTree::Exists(outside.Path(L"Tarvo\\1.0")));
      EXPECT_EQ(c.above == Above::kLinkToTheName,
                TempTree::Exists(outside.Path(L"Tarvo")));
      continue;
    }
    {
      base::FileEnumerator listing(root, false,
                                   base::FileEnumerator::kDirectories, L"*");
      EXPECT_EQ(root.Append(L"1.0"), listing.Next());
      EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), listing.error());
    }
    EXPECT_FALSE(::MoveFileW(root.value().c_str(),
                             tree.Path(L"moved").value().c_str()));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), ::GetLastError());
    EXPECT_NE(nullptr, base::HeldFolder::Open(root));

    transaction.RollbackOperations();

    EXPECT_FALSE(TempTree::Exists(root));
    EXPECT_EQ(c.above == Above::kThere, TempTree::Exists(above));
  }
}

}  // namespace
}  // namespace installer
