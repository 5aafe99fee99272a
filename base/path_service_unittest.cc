#include "base/path_service.h"

#include <windows.h>

#include <string>

#include "base/files/file_util.h"
#include "base/test/temp_tree.h"
#include "gtest/gtest.h"

namespace base {
namespace {

// Keys of the installer's own range, which nothing here sets.
constexpr int kUnsetInstallerKey = 1000;
constexpr int kCreatedKey = 1001;

FilePath ExecutablePath() {
  wchar_t buffer[MAX_PATH];
  ::GetModuleFileNameW(nullptr, buffer, MAX_PATH);
  return FilePath(buffer);
}

TEST(PathServiceKeys, ExecutableKeys) {
  const FilePath exe = ExecutablePath();
  const struct {
    int key;
    FilePath expected;
  } kCases[] = {
      {kExeFile, exe},
      {kExeDir, exe.DirName()},
      // The library is linked into the test executable.
      {kModuleFile, exe},
      {kModuleDir, exe.DirName()},
      {kSourceRoot, exe.DirName().DirName().DirName()},
  };
  for (const auto& c : kCases) {
    FilePath path;
    ASSERT_TRUE(GetPathForKey(c.key, &path)) << c.key;
    EXPECT_EQ(c.expected.value(), path.value()) << c.key;
    EXPECT_FALSE(FilePath::IsSeparator(path.value().back())) << c.key;
    FilePath again;
    ASSERT_TRUE(GetPathForKey(c.key, &again));
    EXPECT_EQ(path, again);
  }
}

TEST(PathServiceKeys, UnknownOrUnavailableKeysFail) {
  // Application shortcuts: no such known folder under Wine (and none before
  // Windows 8).
  const int kKeys[] = {0, -1, 11, 100, 118, kUnsetInstallerKey, kAppShortcuts};
  for (const int key : kKeys) {
    FilePath path(L"untouched");
    EXPECT_FALSE(GetPathForKey(key, &path)) << key;
    EXPECT_EQ(L"untouched", path.value()) << key;
  }
}

TEST(PathServiceKeys, CurrentDirectoryIsNeverCached) {
  TempTree tree;
  FilePath before;
  ASSERT_TRUE(GetPathForKey(kCurrentDir, &before));
  ASSERT_TRUE(::SetCurrentDirectoryW(tree.root().value().c_str()));
  FilePath during;
  EXPECT_TRUE(GetPathForKey(kCurrentDir, &during));
  ::SetCurrentDirectoryW(before.value().c_str());
  EXPECT_EQ(FilePath::CompareIgnoreCase(tree.root(), during), 0)
      << during.AsUTF8();
}

TEST(PathServiceOverride, ReplacesKeyAndInvalidatesCache) {
  FilePath app_data;
  FilePath quick_launch;
  ASSERT_TRUE(GetPathForKey(kAppData, &app_data));
  ASSERT_TRUE(GetPathForKey(kQuickLaunch, &quick_launch));  // now cached
  TempTree tree;

  ASSERT_TRUE(SetPathOverride(kAppData, tree.root(), true, false));
  FilePath path;
  ASSERT_TRUE(GetPathForKey(kAppData, &path));
  EXPECT_EQ(tree.root(), path);
  ASSERT_TRUE(GetPathForKey(kQuickLaunch, &path));
  EXPECT_EQ(tree.Path(L"Microsoft\\Internet Explorer\\Quick Launch"), path);

  // Put the real folder back for the other tests of this process.
  ASSERT_TRUE(SetPathOverride(kAppData, app_data, true, false));
  ASSERT_TRUE(GetPathForKey(kQuickLaunch, &path));
  EXPECT_EQ(quick_launch, path);
}

TEST(PathServiceOverride, TestDataOnlyWhenItExists) {
  FilePath source_root;
  ASSERT_TRUE(GetPathForKey(kSourceRoot, &source_root));
  TempTree tree;
  ASSERT_TRUE(SetPathOverride(kSourceRoot, tree.root(), true, false));
  FilePath path;
  EXPECT_FALSE(GetPathForKey(kTestData, &path));
  tree.MakeDir(L"base\\test\\data");
  EXPECT_TRUE(GetPathForKey(kTestData, &path));
  EXPECT_EQ(tree.Path(L"base\\test\\data"), path);
  ASSERT_TRUE(SetPathOverride(kSourceRoot, source_root, true, false));
}

TEST(PathServiceOverride, CreatesMissingFolderOrStoresNothing) {
  TempTree tree;
  const FilePath nested = tree.Path(L"x\\y\\z");
  ASSERT_TRUE(SetPathOverride(kCreatedKey, nested, true, true));
  EXPECT_TRUE(DirectoryExists(nested));
  FilePath path;
  ASSERT_TRUE(GetPathForKey(kCreatedKey, &path));
  EXPECT_EQ(nested, path);

  tree.WriteFile(L"file", "x");
  EXPECT_FALSE(
      SetPathOverride(kUnsetInstallerKey, tree.Path(L"file\\sub"), true, true));
  EXPECT_FALSE(GetPathForKey(kUnsetInstallerKey, &path));
}

}  // namespace
}  // namespace base
