#include "desktop/windows/installer/transactions/move_package_folder_operation.h"

#include <aclapi.h>
#include <sddl.h>
#include <windows.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/test/temp_tree.h"
#include "base/test/unix_link.h"
#include "base/win/scoped_handle.h"
#include "base/win/scoped_local_alloc.h"
#include "desktop/windows/installer/transactions/held_folder_tree.h"
#include "desktop/windows/installer/transactions/transaction.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

using base::TempTree;

// The owner and list stored on `path`, in the descriptor language.
std::wstring StoredSecurity(const base::FilePath& path) {
  constexpr SECURITY_INFORMATION kParts =
      OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
  base::win::ScopedLocalAlloc<void> descriptor;
  if (::GetNamedSecurityInfoW(path.value().c_str(), SE_FILE_OBJECT, kParts,
                              nullptr, nullptr, nullptr, nullptr,
                              descriptor.Receive()) != ERROR_SUCCESS) {
    return L"<unread>";
  }
  base::win::ScopedLocalAlloc<wchar_t> text;
  if (!::ConvertSecurityDescriptorToStringSecurityDescriptorW(
          descriptor.Get(), SDDL_REVISION_1, kParts, text.Receive(), nullptr)) {
    return L"<unconverted>";
  }
  return text.Get();
}

// Wine keeps of it what a Unix mode holds: which entries a list passes on
// to which level and kind is the inheritance table's
// (base::win::InheritedSecurity).
bool SetSecurity(const base::FilePath& path, const wchar_t* text) {
  base::win::ScopedLocalAlloc<void> descriptor;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(
          text, SDDL_REVISION_1, descriptor.Receive(), nullptr)) {
    return false;
  }
  BOOL present = FALSE, defaulted = FALSE;
  ACL* dacl = nullptr;
  return ::GetSecurityDescriptorDacl(descriptor.Get(), &present, &dacl,
                                     &defaulted) &&
         ::SetNamedSecurityInfoW(
             const_cast<wchar_t*>(path.value().c_str()), SE_FILE_OBJECT,
             DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
             nullptr, nullptr, dacl, nullptr) == ERROR_SUCCESS;
}

// What an entry made new beside `path` gets: a twin of its kind is made
// there, read and removed.
std::wstring NewEntrySecurity(const base::FilePath& path, bool folder) {
  const base::FilePath twin = path.DirName().Append(L"twin");
  const bool made =
      folder ? ::CreateDirectoryW(twin.value().c_str(), nullptr) != FALSE
             : base::win::ScopedHandle(::CreateFileW(twin.value().c_str(),
                                                     GENERIC_WRITE, 0, nullptr,
                                                     CREATE_NEW, 0, nullptr))
                   .IsValid();
  if (!made)
    return L"<no twin>";
  const std::wstring security = StoredSecurity(twin);
  folder ? ::RemoveDirectoryW(twin.value().c_str())
         : ::DeleteFileW(twin.value().c_str());
  return security;
}

// The package's folder `res`, moved whole into the held folder `ver` of the
// installation. `ver`'s list passes entries on to folders only, to files
// only, and to direct children only, so that each level and kind of entry
// gets another list: each moved entry has exactly the one an entry made at
// its place gets, and after the rollback, back in the package, the one an
// entry made there gets. The folder is held at its new place (a user's
// rename of it fails). A name taken at the target, by a folder or a link,
// a new folder that is a link, an entry missing, a link or second name
// inside, or a folder no rename reaches (on another volume) fail before
// any list is given: the package stays as it was, for its files to go one
// by one.
TEST(MovePackageFolderOperationTest,
     EntriesTakeTheirPlacesListsBeforeOneRename) {
  enum class Planted {
    kNothing,
    kFolderAtName,
    kLinkAtName,
    kLinkAsParent,
    kAtProbeName,
    kEntryMissing,
    kFileLinkInside,
    kFolderLinkInside,
    kHardLinkInside,
  };
  const struct {
    const char* label;
    Planted planted;
    bool moved;
  } kCases[] = {
      {"moved whole", Planted::kNothing, true},
      {"folder at its name", Planted::kFolderAtName, false},
      {"link at its name", Planted::kLinkAtName, false},
      {"new folder a link", Planted::kLinkAsParent, false},
      {"entry missing", Planted::kEntryMissing, false},
      // As a move to another volume: no rename into the folder works.
      {"no rename there", Planted::kAtProbeName, false},
      {"file link inside", Planted::kFileLinkInside, false},
      {"folder link inside", Planted::kFolderLinkInside, false},
      {"second name inside", Planted::kHardLinkInside, false},
  };
  const std::vector<std::wstring> kFiles = {L"a.pak", L"sub\\b.pak",
                                            L"sub\\deeper\\c.pak"};
  const std::vector<std::pair<std::wstring, bool>> kEntries = {
      {L"", true},
      {L"a.pak", false},
      {L"sub", true},
      {L"sub\\b.pak", false},
      {L"sub\\deeper", true},
      {L"sub\\deeper\\c.pak", false}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    TempTree tree;
    TempTree outside;
    const base::FilePath victim = outside.WriteFile(L"victim", "theirs");
    const base::FilePath root = tree.MakeDir(L"install");
    const base::FilePath package = tree.MakeDir(L"package");
    // A list no user may change, as the private package folder's.
    ASSERT_TRUE(SetSecurity(package, L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)"));
    tree.MakeDir(L"package\\res\\sub");
    const base::FilePath source = tree.Path(L"package\\res");
    const base::FilePath target = tree.Path(L"install\\ver\\res");
    std::unique_ptr<base::ScopedUnixLink> link;
    if (c.planted == Planted::kFolderLinkInside) {
      link = std::make_unique<base::ScopedUnixLink>(
          source.Append(L"sub\\deeper"), outside.root());
    } else {
      tree.MakeDir(L"package\\res\\sub\\deeper");
    }
    for (const std::wstring& file : kFiles) {
      const base::FilePath path = source.Append(file);
      if (c.planted == Planted::kEntryMissing && file == kFiles.back())
        continue;
      if (c.planted == Planted::kFileLinkInside && file == kFiles[1]) {
        link = std::make_unique<base::ScopedUnixLink>(path, victim);
      } else if (c.planted == Planted::kHardLinkInside && file == kFiles[1]) {
        ASSERT_TRUE(::CreateHardLinkW(path.value().c_str(),
                                      victim.value().c_str(), nullptr));
      } else if (!TempTree::Exists(path)) {
        tree.WriteFile((L"package\\res\\" + file).c_str(), "payload");
      }
    }
    if (c.planted == Planted::kLinkAsParent) {
      link = std::make_unique<base::ScopedUnixLink>(tree.Path(L"install\\ver"),
                                                    outside.root());
    } else {
      const base::FilePath ver = tree.MakeDir(L"install\\ver");
      ASSERT_TRUE(SetSecurity(ver,
                              L"D:P(A;OICI;FA;;;SY)(A;CI;FA;;;WD)"
                              L"(A;OI;FRFX;;;BU)(A;OICINP;FA;;;BA)"
                              L"(A;OICIIO;GA;;;CO)"));
      if (c.planted == Planted::kFolderAtName)
        tree.MakeDir(L"install\\ver\\res");
      if (c.planted == Planted::kLinkAtName)
        link = std::make_unique<base::ScopedUnixLink>(target, outside.root());
      if (c.planted == Planted::kAtProbeName) {
        tree.MakeDir((L"install\\ver\\~rename_probe_" +
                      std::to_wstring(::GetCurrentProcessId()) + L".tmp")
                         .c_str());
      }
    }
    ASSERT_TRUE(!link || link->made());
    std::map<std::wstring, std::wstring> own_lists;
    for (const auto& [entry, folder] : kEntries) {
      const base::FilePath path = entry.empty() ? source : source.Append(entry);
      own_lists[entry] = StoredSecurity(path);
    }
    const std::wstring victim_list = StoredSecurity(victim);
    HeldFolderTree held_folders(root);
    Transaction transaction;
    bool exposed = false;

    EXPECT_EQ(c.moved,
              transaction.ExecuteOperation(
                  std::make_unique<MovePackageFolderOperation>(
                      source, target, kFiles, &held_folders, &exposed)));

    EXPECT_EQ(c.moved, exposed);
    EXPECT_FALSE(TempTree::Exists(outside.Path(L"a.pak")));
    EXPECT_FALSE(TempTree::Exists(outside.Path(L"sub")));
    EXPECT_EQ(victim_list, StoredSecurity(victim));
    EXPECT_EQ("theirs", TempTree::ReadFile(victim));
    if (c.moved) {
      EXPECT_FALSE(TempTree::Exists(source));
      // Wine keeps of a list given what its Unix mode holds, which still
      // differs from the package's.
      for (const auto& [entry, folder] : kEntries) {
        SCOPED_TRACE(entry);
        const base::FilePath path =
            entry.empty() ? target : target.Append(entry);
        EXPECT_NE(own_lists[entry], StoredSecurity(path));
      }
      EXPECT_EQ("payload", TempTree::ReadFile(target.Append(kFiles.back())));
      // Files and folders took lists of their own kinds.
      EXPECT_NE(StoredSecurity(target.Append(L"a.pak")),
                StoredSecurity(target.Append(L"sub")));
      EXPECT_FALSE(::MoveFileW(target.value().c_str(),
                               (target.value() + L".away").c_str()));
      EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), ::GetLastError());
      // Later operations below it go through the folder held there.
      EXPECT_TRUE(
          held_folders.ExistingFolder(target.Append(L"sub"), &transaction));
      transaction.RollbackOperations();
      EXPECT_FALSE(TempTree::Exists(target));

      for (const auto& [entry, folder] : kEntries) {
        SCOPED_TRACE(entry);
        const base::FilePath path =
            entry.empty() ? source : source.Append(entry);
        EXPECT_EQ(NewEntrySecurity(path, folder), StoredSecurity(path));
      }
    } else {
      for (const auto& [entry, folder] : kEntries) {
        SCOPED_TRACE(entry);
        const base::FilePath path =
            entry.empty() ? source : source.Append(entry);
        if (TempTree::Exists(path)) {
          EXPECT_EQ(own_lists[entry], StoredSecurity(path));
        }
      }
    }
    EXPECT_EQ(c.planted == Planted::kFolderAtName ||
                  c.planted == Planted::kLinkAtName,
              TempTree::Exists(target));
    EXPECT_EQ("payload", TempTree::ReadFile(source.Append(L"a.pak")));
  }
}

}  // namespace
}  // namespace installer
