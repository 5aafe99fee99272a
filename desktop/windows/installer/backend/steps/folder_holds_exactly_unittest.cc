#include "desktop/windows/installer/backend/steps/folder_holds_exactly.h"

#include <windows.h>

#include <string>
#include <vector>

#include "base/test/temp_tree.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

// A folder goes in one rename only where that leaves what moving its listed
// files one by one would: every case that differs in any way is refused.
TEST(FolderHoldsExactlyTest, OnlyATreeOfExactlyTheListedFilesMatches) {
  struct Case {
    const char* name;
    // Files written below the folder; a trailing '\' makes a folder.
    std::vector<std::wstring> tree;
    std::vector<std::wstring> listed;
    DWORD attributes;
    bool matches;
  };
  const Case kCases[] = {
      {"same files", {L"a.pak", L"sub\\deep\\b.dll"},
       {L"sub\\deep\\b.dll", L"a.pak"}, FILE_ATTRIBUTE_NORMAL, true},
      {"a file not listed", {L"a.pak", L"extra.txt"}, {L"a.pak"},
       FILE_ATTRIBUTE_NORMAL, false},
      {"a listed file missing", {L"a.pak"}, {L"a.pak", L"b.pak"},
       FILE_ATTRIBUTE_NORMAL, false},
      {"an empty folder", {L"a.pak", L"empty\\"}, {L"a.pak"},
       FILE_ATTRIBUTE_NORMAL, false},
      {"listed twice", {L"a.pak"}, {L"a.pak", L"a.pak"},
       FILE_ATTRIBUTE_NORMAL, false},
      {"listed in another case", {L"a.pak"}, {L"A.pak"},
       FILE_ATTRIBUTE_NORMAL, false},
      {"listed with '/'", {L"sub\\b.dll"}, {L"sub/b.dll"},
       FILE_ATTRIBUTE_NORMAL, false},
      {"a read-only file", {L"a.pak"}, {L"a.pak"}, FILE_ATTRIBUTE_READONLY,
       false},
      {"a hidden file", {L"a.pak"}, {L"a.pak"}, FILE_ATTRIBUTE_HIDDEN, true},
  };
  for (const Case& test_case : kCases) {
    SCOPED_TRACE(test_case.name);
    base::TempTree tree;
    tree.MakeDir(L"folder");
    for (const std::wstring& entry : test_case.tree) {
      const std::wstring path = L"folder\\" + entry;
      if (path.back() == L'\\') {
        tree.MakeDir(path.substr(0, path.size() - 1).c_str());
        continue;
      }
      tree.MakeDir(path.substr(0, path.rfind(L'\\')).c_str());
      tree.WriteFile(path.c_str(), "data", test_case.attributes);
    }
    EXPECT_EQ(test_case.matches,
              FolderHoldsExactly(tree.Path(L"folder"), test_case.listed));
    for (const std::wstring& entry : test_case.tree) {
      const base::FilePath path = tree.Path((L"folder\\" + entry).c_str());
      ::SetFileAttributesW(path.value().c_str(), FILE_ATTRIBUTE_NORMAL);
    }
  }
}

TEST(FolderHoldsExactlyTest, MissingFolderDoesNotMatch) {
  base::TempTree tree;
  EXPECT_FALSE(FolderHoldsExactly(tree.Path(L"missing"), {}));
}

}  // namespace
}  // namespace installer
