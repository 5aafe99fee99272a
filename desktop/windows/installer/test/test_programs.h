#ifndef DESKTOP_WINDOWS_INSTALLER_TEST_TEST_PROGRAMS_H_
#define DESKTOP_WINDOWS_INSTALLER_TEST_TEST_PROGRAMS_H_

#include "base/files/file_path.h"
#include "base/path_service.h"
#include "gtest/gtest.h"

namespace installer::test_programs {

// A program or library the build puts beside the unit test programs.
inline base::FilePath BesideTests(const wchar_t* relative) {
  base::FilePath folder;
  EXPECT_TRUE(base::GetPathForKey(base::kExeDir, &folder));
  return folder.Append(relative);
}

// The base library's child tool, built in the base folder of the build.
inline base::FilePath ProcessChildTool() {
  base::FilePath folder;
  EXPECT_TRUE(base::GetPathForKey(base::kExeDir, &folder));
  return folder.DirName().DirName().Append(L"base\\process_child_tool.exe");
}

}  // namespace installer::test_programs

#endif  // DESKTOP_WINDOWS_INSTALLER_TEST_TEST_PROGRAMS_H_
