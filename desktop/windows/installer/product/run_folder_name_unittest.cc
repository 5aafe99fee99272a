#include "desktop/windows/installer/product/run_folder_name.h"

#include <windows.h>

#include <string>

#include "gtest/gtest.h"

namespace installer {
namespace {

TEST(RunFolderNameTest, ParseReadsOnlyWholeNames) {
  struct Case {
    const wchar_t* name;
    const wchar_t* prefix;  // null: not a run's name
    uint32_t pid;
  } const cases[] = {
      {L"tarvo_installer_20261207204000_1234", L"tarvo_installer", 1234},
      {L"tarvo_installer_20261207204000_1234.exe", L"tarvo_installer", 1234},
      {L"tarvo_installer_20261207204000_1234.log", L"tarvo_installer", 1234},
      {L"installer_run_20261207204000_56.journal", L"installer_run", 56},
      {L"suite_20261207204000_4294967295", L"suite", 4294967295u},
      // A prefix may hold what looks like a name of its own.
      {L"a_20261207204000_7_20261207204001_8", L"a_20261207204000_7", 8},
      // Wrong digit counts.
      {L"tarvo_installer_2026120720400_1234", nullptr, 0},
      {L"tarvo_installer_202612072040001_1234", nullptr, 0},
      // Non-digits, signs and blanks where digits belong.
      {L"tarvo_installer_2026120720400x_1234", nullptr, 0},
      {L"tarvo_installer_20261207204000_12a4", nullptr, 0},
      {L"tarvo_installer_20261207204000_+1234", nullptr, 0},
      {L"tarvo_installer_20261207204000_-1234", nullptr, 0},
      {L"tarvo_installer_20261207204000_ 1234", nullptr, 0},
      {L"tarvo_installer_20261207204000_\x0661\x0662", nullptr, 0},
      // Pids that no process has.
      {L"tarvo_installer_20261207204000_4294967296", nullptr, 0},
      {L"tarvo_installer_20261207204000_99999999999999999999", nullptr, 0},
      {L"tarvo_installer_20261207204000_0", nullptr, 0},
      // Missing parts.
      {L"tarvo_installer_20261207204000_", nullptr, 0},
      {L"tarvo_installer_20261207204000", nullptr, 0},
      {L"_20261207204000_1234", nullptr, 0},
      {L"20261207204000_1234", nullptr, 0},
      {L"tarvo_installer__1234", nullptr, 0},
      {L"_1234", nullptr, 0},
      {L"tarvo_installer", nullptr, 0},
      {L"", nullptr, 0},
      // The name ends at its first dot.
      {L"tarvo_installer_20261207204000.5_1234", nullptr, 0},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    const std::optional<RunFolderName> parsed = RunFolderName::Parse(test.name);
    ASSERT_EQ(test.prefix != nullptr, parsed.has_value());
    if (test.prefix) {
      EXPECT_EQ(test.prefix, parsed->prefix());
      EXPECT_EQ(test.pid, parsed->pid());
    }
  }
}

TEST(RunFolderNameTest, ParseRefusesNamesLongerThanAPath) {
  const std::wstring name =
      std::wstring(MAX_PATH, L'x') + L"_20261207204000_1234";
  EXPECT_FALSE(RunFolderName::Parse(name));
  EXPECT_TRUE(RunFolderName::Parse(name.substr(name.size() - MAX_PATH)));
}

// The digits are UTC whatever the time zone, and each field is padded.
TEST(RunFolderNameTest, MakeWritesUtcDigitsThatParseBack) {
  SYSTEMTIME utc = {};
  utc.wYear = 2026;
  utc.wMonth = 3;
  utc.wDay = 9;
  utc.wHour = 4;
  utc.wMinute = 5;
  utc.wSecond = 6;
  FILETIME file_time = {};
  ASSERT_TRUE(::SystemTimeToFileTime(&utc, &file_time));
  const std::wstring name = RunFolderName::Make(
      L"tarvo_installer", base::Time::FromFileTime(file_time), 4294967295u);
  EXPECT_EQ(L"tarvo_installer_20260309040506_4294967295", name);
  const std::optional<RunFolderName> parsed = RunFolderName::Parse(name);
  ASSERT_TRUE(parsed);
  EXPECT_EQ(L"20260309040506", parsed->time_digits());
}

}  // namespace
}  // namespace installer
