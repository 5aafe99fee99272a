#include "desktop/windows/installer/system/system_folder_check.h"

#include <windows.h>

#include "base/files/file_path.h"
#include "base/path_service.h"
#include "desktop/windows/installer/paths/local_path.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

TEST(SystemFolderCheckTest, RefusesSystemFoldersAndWhatHoldsThem) {
  const SystemFolderCheck check(
      {base::FilePath(L"C:\\Windows"), base::FilePath(L"C:\\Windows\\System32"),
       base::FilePath(L"C:\\Program Files"), base::FilePath(L"C:\\users"),
       base::FilePath(L"C:\\users\\me\\AppData\\Local")},
      base::FilePath(L"C:\\Windows"));
  const struct {
    const wchar_t* folder;
    bool system;
    bool system_or_inside;
  } kCases[] = {
      {L"", true, true},
      {L"C:\\", true, true},
      {L"D:\\", true, true},
      {L"C:\\WINDOWS", true, true},
      {L"C:\\Windows\\system32", true, true},
      {L"C:\\Windows\\Temp\\copy", false, true},
      {L"C:\\Program Files", true, true},
      {L"C:\\Program Files\\Tarvo", false, false},
      {L"C:\\Program Files2", false, false},
      {L"C:\\users\\me", true, true},
      {L"C:\\users\\me\\AppData", true, true},
      {L"C:\\users\\me\\AppData\\Local\\Tarvo", false, false},
  };
  for (const auto& test_case : kCases) {
    const base::FilePath folder(test_case.folder);
    EXPECT_EQ(check.IsSystemFolder(folder), test_case.system)
        << folder.AsUTF8();
    EXPECT_EQ(check.IsSystemFolderOrInside(folder), test_case.system_or_inside)
        << folder.AsUTF8();
  }
  // Nothing known: nothing can be told apart.
  EXPECT_TRUE(SystemFolderCheck({}, base::FilePath(L"C:\\Windows"))
                  .IsSystemFolder(base::FilePath(L"C:\\Program Files\\Tarvo")));
}

TEST(SystemFolderCheckTest, KnowsThisSystemsWindowsAndSystemFolders) {
  const SystemFolderCheck check = SystemFolderCheck::ForThisSystem();
  for (base::PathKey key : {base::kWindowsDir, base::kSystemDir}) {
    base::FilePath folder;
    ASSERT_TRUE(base::GetPathForKey(key, &folder));
    EXPECT_TRUE(check.IsSystemFolder(ResolveLocalPath(folder)))
        << folder.AsUTF8();
  }
  base::FilePath temp;
  ASSERT_TRUE(base::GetPathForKey(base::kTempDir, &temp));
  EXPECT_FALSE(check.IsSystemFolderOrInside(
      ResolveLocalPath(temp.Append(L"tarvo-not-the-system's"))));
}

}  // namespace
}  // namespace installer
