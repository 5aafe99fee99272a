#include "desktop/windows/installer/package_fetcher/protected_package.h"

#include <windows.h>

#include <string>

#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/path_service.h"
#include "base/test/scoped_temp_folder.h"
#include "desktop/windows/installer/product/package_file_names.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

TEST(ProtectedPackageTest, ProgramWithoutPackageTakesOnlyADownloadedOne) {
  base::ScopedTempFolder folder;
  base::FilePath own_program;
  ASSERT_TRUE(base::GetPathForKey(base::kExeFile, &own_program));
  const base::FilePath without_package = folder.path().Append(L"download.exe");
  ASSERT_TRUE(base::CopyFileChecked(own_program, without_package));
  const struct {
    base::FilePath downloaded;
    ProtectedPackage::Result result;
  } kCases[] = {
      {folder.path().Append(L"missing.exe"),
       ProtectedPackage::Result::kNoPackage},
      {without_package, ProtectedPackage::Result::kFailed},
  };
  for (const auto& test : kCases) {
    SCOPED_TRACE(test.downloaded.AsUTF8());
    ProtectedPackage package;
    EXPECT_EQ(package.Unpack(test.downloaded), test.result);
    EXPECT_TRUE(package.folder().empty());
  }
}

void WriteFile(const base::FilePath& path, const std::string& data) {
  ASSERT_EQ(base::WriteBufferToFile(path, data.data(),
                                    static_cast<int>(data.size())),
            static_cast<int>(data.size()));
}

std::string ReadFile(const base::FilePath& path) {
  std::string data;
  return base::ReadFileToString(path, &data) ? data : "<missing>";
}

TEST(ProtectedPackageTest, RunDataIsCarriedWithinItsBound) {
  base::ScopedTempFolder from;
  base::ScopedTempFolder to;
  const std::string too_large(ProtectedPackage::kMaxRunDataSize + 1, 'x');
  WriteFile(from.path().Append(kServerTrackingDataName), "tracking");
  WriteFile(from.path().Append(kPrefDefaultOverridesName), too_large);
  // Not the run's data: never carried.
  WriteFile(from.path().Append(kLauncherName), "MZ planted");

  ProtectedPackage::CarryRunData(from.path(), to.path());

  EXPECT_EQ(ReadFile(to.path().Append(kServerTrackingDataName)), "tracking");
  EXPECT_FALSE(base::PathExists(to.path().Append(kPrefDefaultOverridesName)));
  EXPECT_FALSE(base::PathExists(to.path().Append(kInstallerPrefsIncludeName)));
  EXPECT_FALSE(base::PathExists(to.path().Append(kLauncherName)));
}

}  // namespace
}  // namespace installer
