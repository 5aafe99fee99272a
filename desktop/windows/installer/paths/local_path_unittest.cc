#include "desktop/windows/installer/paths/local_path.h"

#include <windows.h>

#include <string>

#include "base/files/file_util.h"
#include "base/test/scoped_temp_folder.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

// Every spelling of one path of a local drive resolves to its long form;
// what is no plain local path resolves to nothing.
TEST(LocalPathTest, ResolvesSpellingsAndRefusesOtherPaths) {
  base::ScopedTempFolder temp;
  const base::FilePath folder =
      temp.path().Append(L"Tarvo Installation Folder");
  ASSERT_TRUE(base::CreateDirectory(folder));
  const std::wstring long_path = ResolveLocalPath(folder).value();
  ASSERT_FALSE(long_path.empty());
  wchar_t short_path[MAX_PATH];
  ASSERT_NE(0u,
            GetShortPathNameW(folder.value().c_str(), short_path, MAX_PATH));
  const std::wstring inside = folder.value() + L"\\sub";
  struct Case {
    std::wstring path;
    std::wstring resolved;  // empty: refused
  } const cases[] = {
      {folder.value() + L"\\", long_path},
      {short_path, long_path},
      {L"\\\\?\\" + std::wstring(short_path) + L"\\new.txt",
       long_path + L"\\new.txt"},
      {folder.value() + L"/sub/file.txt", long_path + L"\\sub\\file.txt"},
      {L"sub\\file.txt", L""},
      {L"\\sub\\file.txt", L""},
      {L"C:sub\\file.txt", L""},
      {L"\\\\server\\share\\file.txt", L""},
      {L"\\\\?\\UNC\\server\\share\\file.txt", L""},
      {L"\\\\.\\C:\\file.txt", L""},
      {inside + L"\\..\\..\\file.txt", L""},
      {inside + L"\\.\\file.txt", L""},
      {inside + L"\\\\file.txt", L""},
      {inside + L"\\*.txt", L""},
      {inside + L"\\file?.txt", L""},
      {inside + L"\\file.txt:stream", L""},
      {inside + L"\\NUL", L""},
      {inside + L"\\com1.txt", L""},
      {inside + L"\\file.txt.", L""},
      {inside + L"\\file.txt ", L""},
      {inside + L"\\line\nbreak", L""},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(base::FilePath(test.path).AsUTF8());
    EXPECT_EQ(test.resolved,
              ResolveLocalPath(base::FilePath(test.path)).value());
  }
}

// Held only as a folder of its own name: no file, nothing missing. (Links
// are planted from Linux in the end-to-end tests: Wine makes none.)
TEST(LocalPathTest, FolderIsHeldOnlyUnderItsOwnName) {
  base::ScopedTempFolder temp;
  const base::FilePath folder = ResolveLocalPath(temp.path());
  ASSERT_FALSE(folder.empty());
  const base::FilePath file = folder.Append(L"file.txt");
  ASSERT_EQ(1, base::WriteBufferToFile(file, "x", 1));
  struct Case {
    base::FilePath path;
    bool held;
  } const cases[] = {
      {folder, true},
      {file, false},
      {folder.Append(L"missing"), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path.AsUTF8());
    const base::win::ScopedHandle held =
        OpenFolderReachedWithoutLinks(c.path, READ_CONTROL);
    EXPECT_EQ(c.held, held.IsValid());
    EXPECT_FALSE(IsReachedThroughLink(c.path));
  }
}

TEST(LocalPathTest, BelowFolderComparesWholeComponents) {
  struct Case {
    const wchar_t* path;
    bool below;
  } const cases[] = {
      {L"C:\\inst\\a.txt", true}, {L"c:\\INST\\sub\\a.txt", true},
      {L"C:\\inst", false},       {L"C:\\inst2\\a.txt", false},
      {L"C:\\inst.3.old", false}, {L"C:\\other\\a.txt", false},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(base::FilePath(test.path).AsUTF8());
    EXPECT_EQ(test.below, IsBelowFolder(base::FilePath(test.path),
                                        base::FilePath(L"C:\\inst")));
  }
}

}  // namespace
}  // namespace installer
