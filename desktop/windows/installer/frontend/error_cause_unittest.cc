#include "desktop/windows/installer/frontend/error_cause.h"

#include <windows.h>

#include <string>

#include "gtest/gtest.h"

namespace installer {
namespace {

// A full disk cannot be made inside the build folder: its error is given.
TEST(ErrorCauseTest, WindowTextNamesTheCause) {
  const struct {
    int code;
    const wchar_t* detail;
    uint32_t cause;
    const wchar_t* text;
  } kCases[] = {
      {37062, L"C:\\T\\big.pak", ERROR_DISK_FULL,
       L"Error when copying file to C:\\T\\big.pak. There is not enough space "
       L"on the disk."},
      {37062, L"C:\\T\\big.pak", ERROR_HANDLE_DISK_FULL,
       L"Error when copying file to C:\\T\\big.pak. There is not enough space "
       L"on the disk."},
      {37059, L"C:\\T", ERROR_ACCESS_DENIED,
       L"The folder C:\\T could not be created. The installation folder cannot "
       L"be written to."},
      // A folder that cannot be written is named whole, never taken for a
      // program that runs from it.
      {37077, L"C:\\T", ERROR_ACCESS_DENIED,
       L"Tarvo could not be uninstalled from C:\\T. The installation folder "
       L"cannot be written to."},
      {37062, L"C:\\T\\big.pak", 0,
       L"Error when copying file to C:\\T\\big.pak."},
      {37072, L"247", 0,
       L"The path of the installation folder is too long: it may have at most "
       L"247 characters."},
  };
  for (const auto& test_case : kCases) {
    SCOPED_TRACE(test_case.cause);
    EXPECT_EQ(test_case.text, ErrorWindowText(test_case.code, test_case.detail,
                                              test_case.cause));
  }
}

TEST(ErrorCauseTest, OtherCausesTakeTheSystemText) {
  const std::wstring text = ErrorCauseText(ERROR_FILENAME_EXCED_RANGE);
  EXPECT_FALSE(text.empty());
  EXPECT_EQ(std::wstring::npos, text.find(L'\n'));
  EXPECT_NE(L' ', text.back());
}

}  // namespace
}  // namespace installer
