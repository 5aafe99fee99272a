#include "desktop/windows/installer/frontend/run_end.h"

#include <windows.h>

#include <string>

#include "base/files/file_path.h"
#include "desktop/windows/installer/package_fetcher/package_fetcher.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

// A full disk cannot be made inside the build folder: the fetcher's write
// error is given.
TEST(RunEndErrorTest, FetchFailureNamesAFullDiskWithItsFolder) {
  const base::FilePath folder(L"C:\\T\\Tarvo Installer");
  const struct {
    int state;
    uint32_t write_error;
    int code;
    const wchar_t* text;
  } kCases[] = {
      {PackageFetcher::UNPACKING_FAILED, ERROR_DISK_FULL, 37075,
       L"The Tarvo package could not be unpacked in the temporary folder "
       L"C:\\T\\Tarvo Installer. There is not enough space on the disk."},
      {PackageFetcher::DOWNLOAD_FAILED, ERROR_HANDLE_DISK_FULL, 37076,
       L"Tarvo could not be downloaded to the temporary folder C:\\T\\Tarvo "
       L"Installer. There is not enough space on the disk."},
      // Other causes keep the texts that send the user to the network or
      // to a second try.
      {PackageFetcher::UNPACKING_FAILED, 0, 37054,
       L"The Tarvo package could not be unpacked. Please try again."},
      {PackageFetcher::DOWNLOAD_FAILED, ERROR_ACCESS_DENIED, 37053,
       L"Tarvo could not be downloaded. Please check your Internet connection "
       L"and try again."},
      {PackageFetcher::INITIALIZATION_FAILED, 0, 37053,
       L"Tarvo could not be downloaded. Please check your Internet connection "
       L"and try again."},
  };
  for (const auto& test_case : kCases) {
    SCOPED_TRACE(test_case.code);
    const RunEnd::Error error = RunEnd::Error::ForFetchFailure(
        test_case.state, test_case.write_error, folder);
    EXPECT_EQ(test_case.code, error.code);
    EXPECT_EQ(test_case.text, error.WindowText());
    // The report's reason stays the one every failed fetch gives.
    EXPECT_EQ("Fetcher error", error.reason);
  }
}

}  // namespace
}  // namespace installer
