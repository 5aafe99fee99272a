#include "desktop/windows/installer/transactions/move_package_folder_operation.h"

#include <aclapi.h>
#include <sddl.h>
#include <windows.h>

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

bool SetSecurity(const base::FilePath& path, const wchar_t* text) {
  base::win::ScopedLocalAlloc<void> descriptor;
  return ::ConvertStringSecurityDescriptorToSecurityDescriptorW(
             text, SDDL_REVISION_1, descriptor.Receive(), nullptr) &&
         ::SetFileSecurityW(path.value().c_str(), DACL_SECURITY_INFORMATION,
                            descriptor.Get());
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
// installation. On Windows `ver`'s list passes entries on to folders only,
// to files only, and to direct children only, so that each level and kind
// of entry gets another list: each moved entry has exactly the one an
// entry made at its place gets. The folder is held at its new place
// (a user's rename of it fails) and the rollback puts it back whole. A name
// taken at the target, by a folder or a link to one outside, fails the
// move and leaves it alone; so does a new folder that is a link. An entry
// that could not be opened, or a folder no rename reaches (on another
// volume), fails before any list is given; the others tell the caller that
// the package folder is no longer only the administrators'.
TEST(MovePackageFolderOperationTest,
     EntriesTakeTheirPlacesListsBeforeOneRename) {
  enum class Planted {
    kNothing,
    kFolderAtName,
    kLinkAtName,
    kLinkAsParent,
    kAtProbeName
  };
  const struct {
    const char* label;
    Planted planted;
    bool file_missing;
    bool moved;
    bool exposed;
  } kCases[] = {
      {"moved whole", Planted::kNothing, false, true, true},
      {"folder at its name", Planted::kFolderAtName, false, false, true},
      {"link at its name", Planted::kLinkAtName, false, false, true},
      {"new folder a link", Planted::kLinkAsParent, false, false, false},
      {"entry missing", Planted::kNothing, true, false, false},
      // As a move to another volume: no rename into the folder works.
      {"no rename there", Planted::kAtProbeName, false, false, false},
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
    const base::FilePath root = tree.MakeDir(L"install");
    tree.MakeDir(L"package\\res\\sub\\deeper");
    const base::FilePath source = tree.Path(L"package\\res");
    const base::FilePath target = tree.Path(L"install\\ver\\res");
    for (const std::wstring& file : kFiles) {
      if (!(c.file_missing && file == kFiles.back()))
        tree.WriteFile((L"package\\res\\" + file).c_str(), "payload");
    }
    // A list no user may read, as the private package folder's.
    for (const auto& [entry, folder] : kEntries) {
      const base::FilePath path = entry.empty() ? source : source.Append(entry);
      ASSERT_TRUE(!TempTree::Exists(path) ||
                  SetSecurity(path, L"D:P(A;;FA;;;SY)(A;;0x100196;;;WD)"));
    }
    std::unique_ptr<base::ScopedUnixLink> link;
    if (c.planted == Planted::kLinkAsParent) {
      link = std::make_unique<base::ScopedUnixLink>(tree.Path(L"install\\ver"),
                                                    outside.root());
    } else {
      const base::FilePath ver = tree.MakeDir(L"install\\ver");
      ASSERT_TRUE(SetSecurity(ver,
                              L"D:P(A;OICI;FA;;;SY)(A;CI;FA;;;WD)"
                              L"(A;OI;FRFX;;;BU)(A;OICINP;FA;;;BA)"));
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
    const std::wstring own_list = StoredSecurity(source.Append(L"sub\\b.pak"));
    HeldFolderTree held_folders(root);
    Transaction transaction;
    bool exposed = false;

    EXPECT_EQ(c.moved,
              transaction.ExecuteOperation(
                  std::make_unique<MovePackageFolderOperation>(
                      source, target, kFiles, &held_folders, &exposed)));

    EXPECT_EQ(c.exposed, exposed);
    EXPECT_FALSE(TempTree::Exists(outside.Path(L"a.pak")));
    EXPECT_FALSE(TempTree::Exists(outside.Path(L"sub")));
    if (c.moved) {
      EXPECT_FALSE(TempTree::Exists(source));
      for (const auto& [entry, folder] : kEntries) {
        SCOPED_TRACE(entry);
        const base::FilePath path =
            entry.empty() ? target : target.Append(entry);
        EXPECT_EQ(NewEntrySecurity(path, folder), StoredSecurity(path));
      }
      EXPECT_EQ("payload", TempTree::ReadFile(target.Append(kFiles.back())));
      // Files and folders took lists of their own kinds (Wine, which
      // passes no entry of a folder's on, shows that much).
      EXPECT_NE(StoredSecurity(target.Append(L"a.pak")),
                StoredSecurity(target.Append(L"sub")));
      EXPECT_FALSE(::MoveFileW(target.value().c_str(),
                               (target.value() + L".away").c_str()));
      EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), ::GetLastError());
    } else if (!c.file_missing) {
      EXPECT_EQ("payload", TempTree::ReadFile(source.Append(L"a.pak")));
    }
    if (!c.exposed)
      EXPECT_EQ(own_list, StoredSecurity(source.Append(L"sub\\b.pak")));
    transaction.RollbackOperations();
    EXPECT_EQ(c.planted == Planted::kFolderAtName ||
                  c.planted == Planted::kLinkAtName,
              TempTree::Exists(target));
    if (!c.file_missing) {
      for (const std::wstring& file : kFiles)
        EXPECT_EQ("payload", TempTree::ReadFile(source.Append(file)));
    }
  }
}

}  // namespace
}  // namespace installer
