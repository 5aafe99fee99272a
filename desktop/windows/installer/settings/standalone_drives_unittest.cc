#include "desktop/windows/installer/settings/standalone_drives.h"

#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace installer {
namespace {

TEST(StandaloneDrivesTest, RemovableFirstPoorDrivesOnlyWhenFirst) {
  struct Case {
    const char* name;
    std::vector<StandaloneDrive> drives;
    std::vector<std::wstring> expected;
  } const kCases[] = {
      {"none", {}, {}},
      {"a lone CD-ROM is kept", {{L'D', DRIVE_CDROM}}, {L"D:\\T"}},
      {"ranked",
       {{L'C', DRIVE_FIXED},
        {L'D', DRIVE_CDROM},
        {L'E', DRIVE_REMOVABLE},
        {L'N', DRIVE_REMOTE},
        {L'R', DRIVE_RAMDISK},
        {L'U', DRIVE_UNKNOWN},
        {L'X', DRIVE_NO_ROOT_DIR}},
       {L"E:\\T", L"N:\\T", L"C:\\T", L"R:\\T"}},
      {"only poor drives: the best of them",
       {{L'U', DRIVE_UNKNOWN}, {L'D', DRIVE_CDROM}, {L'X', DRIVE_NO_ROOT_DIR}},
       {L"D:\\T"}},
      {"a type Windows may add later counts as unknown",
       {{L'V', 42}, {L'C', DRIVE_FIXED}},
       {L"C:\\T"}},
      {"equal ranks keep drive order",
       {{L'F', DRIVE_REMOVABLE}, {L'C', DRIVE_FIXED}, {L'G', DRIVE_REMOVABLE}},
       {L"F:\\T", L"G:\\T", L"C:\\T"}},
  };
  for (const Case& c : kCases) {
    std::vector<std::wstring> paths;
    for (const base::FilePath& path :
         RankStandaloneInstallPaths(c.drives, L"T"))
      paths.push_back(path.value());
    EXPECT_EQ(c.expected, paths) << c.name;
  }
}

}  // namespace
}  // namespace installer
