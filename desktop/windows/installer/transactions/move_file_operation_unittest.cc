#include "desktop/windows/installer/transactions/move_file_operation.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <memory>
#include <string>

#include "base/files/file_path.h"
#include "base/test/temp_tree.h"
#include "base/test/unix_link.h"
#include "base/win/scoped_handle.h"
#include "base/win/scoped_local_alloc.h"
#include "desktop/windows/installer/test/standard_user_token.h"
#include "desktop/windows/installer/transactions/held_folder_tree.h"
#include "desktop/windows/installer/transactions/transaction.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

using base::TempTree;

// Whether `token` (an impersonation token) may read and run `file`, by
// the file's stored list: Wine keeps it and AccessCheck honours it, though
// its CreateFile would not.
bool MayReadAndRun(HANDLE token, const base::FilePath& file) {
  base::win::ScopedLocalAlloc<void> descriptor;
  if (::GetNamedSecurityInfoW(file.value().c_str(), SE_FILE_OBJECT,
                              OWNER_SECURITY_INFORMATION |
                                  GROUP_SECURITY_INFORMATION |
                                  DACL_SECURITY_INFORMATION,
                              nullptr, nullptr, nullptr, nullptr,
                              descriptor.Receive()) != ERROR_SUCCESS) {
    return false;
  }
  GENERIC_MAPPING mapping = {FILE_GENERIC_READ, FILE_GENERIC_WRITE,
                             FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};
  PRIVILEGE_SET privileges;
  DWORD privileges_size = sizeof(privileges);
  DWORD granted = 0;
  BOOL status = FALSE;
  constexpr DWORD kWanted = FILE_GENERIC_READ | FILE_GENERIC_EXECUTE;
  return ::AccessCheck(descriptor.Get(), token, kWanted, &mapping,
                       &privileges, &privileges_size, &granted, &status) &&
         status && granted == kWanted;
}

base::win::ScopedHandle StandardUserImpersonation() {
  const base::win::ScopedHandle standard_user = test::MakeStandardUserToken();
  HANDLE impersonation = nullptr;
  if (!::DuplicateToken(standard_user.Get(), SecurityImpersonation,
                        &impersonation)) {
    return base::win::ScopedHandle();
  }
  return base::win::ScopedHandle(impersonation);
}

// A list a standard user may not read, as the package folder's.
bool ReceivePackageList(base::win::ScopedLocalAlloc<void>* list) {
  return ::ConvertStringSecurityDescriptorToSecurityDescriptorW(
      L"D:P(A;;FA;;;SY)(A;;0x100196;;;WD)", SDDL_REVISION_1, list->Receive(),
      nullptr);
}

// A same-volume move is a rename that a rollback undoes, putting back a
// file that was in the way; one that cannot rename (here a source held open
// without delete sharing) fails without touching the source, so that the
// caller can copy it instead. A name that makes the path longer than
// MAX_PATH moves and moves back all the same. The source has a list that
// a standard user may not read, as the package folder's: a file that takes
// its new folder's list is theirs to read and run, and a rollback moves
// back only the file it moved, never one put at its new name. (Wine keeps
// a file's list as its Unix mode, which the move's clearing of the
// read-only bit opens to the user: a file that keeps its list is not
// judged here.)
TEST(MoveFileOperationTest, SameVolumeMoveRenamesOrLeavesTheSourceAlone) {
  struct Case {
    const char* name;
    bool hold_source;
    bool target_in_the_way;
    bool long_name;
    bool take_list = false;
    // Another file is put at the new name before the rollback.
    bool swapped = false;
    // Another package file was moved into the folder first: this one takes
    // the list worked out for that one.
    bool second_in_folder = false;
    // From the run's temporary package: its own list is not read, and a
    // rollback gives it the one its package folder passes on.
    bool temporary = false;
  };
  const Case kCases[] = {
      {"free source", false, false, false},
      {"held source", true, false, false},
      {"target in the way", false, true, false},
      {"long name", false, false, true},
      {"free source taking the list", false, false, false, true},
      {"held source taking the list", true, false, false, true},
      {"target in the way taking the list", false, true, false, true},
      {"long name taking the list", false, false, true, true},
      {"swapped taking the list", false, false, false, true, true},
      {"second in its folder taking the list", false, false, false, true,
       false, true},
      {"package file taking the list", false, false, false, true, false,
       false, true},
      {"package file in the way taking the list", false, true, false, true,
       false, false, true},
      {"held package file taking the list", true, false, false, true, false,
       false, true}};
  const base::win::ScopedHandle impersonation = StandardUserImpersonation();
  ASSERT_TRUE(impersonation.IsValid());
  base::win::ScopedLocalAlloc<void> package_list;
  ASSERT_TRUE(ReceivePackageList(&package_list));
  for (const Case& test_case : kCases) {
    SCOPED_TRACE(test_case.name);
    TempTree tree;
    tree.MakeDir(L"package");
    HeldFolderTree held_folders(tree.root());
    HeldFolderTree* const target_lists =
        test_case.take_list ? &held_folders : nullptr;
    Transaction transaction;
    if (test_case.second_in_folder) {
      tree.WriteFile(L"package\\first.pak", "first");
      ASSERT_TRUE(transaction.ExecuteOperation(
          std::make_unique<MoveFileOperation>(
              tree.Path(L"package\\first.pak"),
              tree.Path(L"install\\res\\first.pak"),
              MoveFileOperation::Reach::kSameVolume,
              MoveFileOperation::Source::kKept, target_lists)));
    }
    const std::wstring name =
        test_case.long_name ? std::wstring(251, L'n') + L".pak" : L"a.pak";
    tree.WriteFile((L"package\\" + name).c_str(), "payload");
    const base::FilePath source = tree.Path((L"package\\" + name).c_str());
    const base::FilePath target = tree.Path((L"install\\res\\" + name).c_str());
    ASSERT_TRUE(::SetFileSecurityW(source.value().c_str(),
                                   DACL_SECURITY_INFORMATION,
                                   package_list.Get()));
    ASSERT_FALSE(MayReadAndRun(impersonation.Get(), source));
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
    const bool moved = transaction.ExecuteOperation(
        std::make_unique<MoveFileOperation>(
            source, target, MoveFileOperation::Reach::kSameVolume,
            test_case.temporary ? MoveFileOperation::Source::kTemporary
                                : MoveFileOperation::Source::kKept,
            target_lists));
    EXPECT_EQ(!test_case.hold_source, moved);
    EXPECT_EQ(test_case.hold_source, TempTree::Exists(source));
    if (moved) {
      EXPECT_EQ("payload", TempTree::ReadFile(target));
      EXPECT_TRUE(!test_case.take_list ||
                  MayReadAndRun(impersonation.Get(), target));
    }
    held.Close();
    if (test_case.swapped) {
      ASSERT_TRUE(::MoveFileW(target.value().c_str(),
                              (target.value() + L".moved").c_str()));
      tree.WriteFile((L"install\\res\\" + name).c_str(), "planted");
    }
    transaction.RollbackOperations();
    if (test_case.swapped) {
      EXPECT_FALSE(TempTree::Exists(source));
      EXPECT_EQ("planted", TempTree::ReadFile(target));
    } else {
      EXPECT_EQ("payload", TempTree::ReadFile(source));
    }
    if (test_case.target_in_the_way) {
      EXPECT_EQ("old", TempTree::ReadFile(target));
    } else if (!test_case.swapped) {
      EXPECT_FALSE(TempTree::Exists(tree.Path(L"install")));
    }
  }
}

// A file of the installation set aside or kept in a subfolder (by a run
// that may be elevated) is taken through its held folder: a link or a
// second name at its name, or a folder on the way that is a link, is
// refused and nothing outside changes. Moved within its folder it keeps
// its own list (nobody new sees it), into another it takes that folder's;
// a read-only file is moved and comes back read-only. Its folder, held
// until the rollback, cannot be renamed away meanwhile, and the rollback
// puts the file back there by its name.
TEST(MoveFileOperationTest, HeldSourceIsTakenThroughItsFolder) {
  enum class Planted { kNothing, kFileLink, kHardLink, kFolderLink };
  const struct {
    const char* label;
    const wchar_t* source;
    const wchar_t* target;
    Planted planted;
    bool read_only;
    bool moved;
    bool takes_list;
  } kCases[] = {
      {"set aside in its folder", L"tarvo.exe", L"tarvo.exe.old",
       Planted::kNothing, false, true, false},
      {"read-only set aside", L"tarvo.exe", L"tarvo.exe.old",
       Planted::kNothing, true, true, false},
      {"kept in a folder made for it", L"install.xml",
       L"old_status\\install.xml.1", Planted::kNothing, false, true, true},
      {"from a subfolder up", L"sub\\install.xml", L"install.xml.1",
       Planted::kNothing, false, true, true},
      {"link at the source", L"tarvo.exe", L"tarvo.exe.old", Planted::kFileLink,
       false, false, false},
      {"second name at the source", L"tarvo.exe", L"old_status\\tarvo.exe",
       Planted::kHardLink, false, false, false},
      {"source folder a link", L"sub\\install.xml", L"install.xml.1",
       Planted::kFolderLink, false, false, false},
  };
  const base::win::ScopedHandle impersonation = StandardUserImpersonation();
  ASSERT_TRUE(impersonation.IsValid());
  base::win::ScopedLocalAlloc<void> own_list;
  ASSERT_TRUE(ReceivePackageList(&own_list));
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    TempTree tree;
    TempTree outside;
    const base::FilePath root = tree.MakeDir(L"Tarvo");
    tree.MakeDir(L"Tarvo\\sub");
    const base::FilePath victim = outside.WriteFile(L"victim", "victim");
    const base::FilePath source = root.Append(c.source);
    const base::FilePath target = root.Append(c.target);
    std::unique_ptr<base::ScopedUnixLink> link;
    switch (c.planted) {
      case Planted::kNothing:
        if (c.moved)
          tree.WriteFile((L"Tarvo\\" + std::wstring(c.source)).c_str(),
                         "payload");
        break;
      case Planted::kFileLink:
        link = std::make_unique<base::ScopedUnixLink>(source, victim);
        break;
      case Planted::kHardLink:
        ASSERT_TRUE(::CreateHardLinkW(source.value().c_str(),
                                      victim.value().c_str(), nullptr));
        break;
      case Planted::kFolderLink:
        ASSERT_TRUE(
            ::RemoveDirectoryW(tree.Path(L"Tarvo\\sub").value().c_str()));
        outside.WriteFile(L"install.xml", "victim");
        link = std::make_unique<base::ScopedUnixLink>(tree.Path(L"Tarvo\\sub"),
                                                      outside.root());
        break;
    }
    ASSERT_TRUE(!link || link->made());
    for (const base::FilePath& listed : {source, victim}) {
      ASSERT_TRUE(!TempTree::Exists(listed) ||
                  ::SetFileSecurityW(listed.value().c_str(),
                                     DACL_SECURITY_INFORMATION,
                                     own_list.Get()));
    }
    if (c.read_only) {
      ASSERT_TRUE(::SetFileAttributesW(source.value().c_str(),
                                       FILE_ATTRIBUTE_READONLY));
    }
    HeldFolderTree held_folders(root);
    Transaction transaction;

    EXPECT_EQ(c.moved, transaction.ExecuteOperation(
                           std::make_unique<MoveFileOperation>(
                               source, target,
                               MoveFileOperation::Reach::kAnyVolume,
                               MoveFileOperation::Source::kKept,
                               &held_folders)));

    if (c.moved) {
      EXPECT_FALSE(TempTree::Exists(source));
      EXPECT_EQ("payload", TempTree::ReadFile(target));
      // Wine keeps the list as the Unix mode that the read-only bit changes.
      EXPECT_TRUE(c.read_only ||
                  c.takes_list == MayReadAndRun(impersonation.Get(), target));
      EXPECT_EQ(0u, ::GetFileAttributesW(target.value().c_str()) &
                        FILE_ATTRIBUTE_READONLY);
      // The source's folder stays held for the rollback: the user's swap
      // of it fails.
      const base::FilePath folder = source.DirName();
      EXPECT_FALSE(::MoveFileW(folder.value().c_str(),
                               (folder.value() + L".away").c_str()));
      EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), ::GetLastError());
    }
    transaction.RollbackOperations();
    EXPECT_FALSE(TempTree::Exists(target));
    EXPECT_FALSE(TempTree::Exists(root.Append(L"old_status")));
    if (c.moved) {
      EXPECT_EQ("payload", TempTree::ReadFile(source));
      EXPECT_TRUE(c.read_only || !MayReadAndRun(impersonation.Get(), source));
      EXPECT_EQ(c.read_only ? FILE_ATTRIBUTE_READONLY : 0u,
                ::GetFileAttributesW(source.value().c_str()) &
                    FILE_ATTRIBUTE_READONLY);
      ::SetFileAttributesW(source.value().c_str(), FILE_ATTRIBUTE_NORMAL);
    }
    EXPECT_EQ("victim", TempTree::ReadFile(victim));
    EXPECT_FALSE(MayReadAndRun(impersonation.Get(), victim));
    EXPECT_EQ(c.planted == Planted::kFolderLink ? "victim" : "<missing>",
              TempTree::ReadFile(outside.Path(L"install.xml")));
  }
}

}  // namespace
}  // namespace installer
