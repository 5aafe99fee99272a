#include "desktop/windows/crash_reporter/crash_reporting_config.h"

#include <windows.h>

#include "base/files/file_path.h"
#include "desktop/windows/crash_reporter/crash_environment.h"
#include "desktop/windows/installer/test/scoped_token_rights.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

constexpr wchar_t kFlagVariable[] = L"TARVO_CRASH_TEST_FLAG";

TEST(CrashReportingConfigTest, EnvironmentFlagIsTrueOnlyForItsThreeWords) {
  struct Case {
    const wchar_t* value;  // null: not set
    bool default_value;
    bool expected;
  };
  const Case cases[] = {
      {nullptr, true, true},   {nullptr, false, false}, {L"1", false, true},
      {L"yes", false, true},   {L"True", false, true},  {L"2", true, false},
      {L"yes ", false, false},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.value ? test.value : L"(not set)");
    ::SetEnvironmentVariableW(kFlagVariable, test.value);
    EXPECT_EQ(GetEnvironmentFlag("TARVO_CRASH_TEST_FLAG", test.default_value),
              test.expected);
  }
  ::SetEnvironmentVariableW(kFlagVariable, nullptr);
}

TEST(CrashReportingConfigTest, BuildIdIsEightDateCharactersAndSixDigits) {
  EXPECT_EQ(FormatBuildId(290110, "20170329_180017"), "20170329290110");
  EXPECT_EQ(FormatBuildId(1234567, "20170329_180017"), "20170329234567");
  EXPECT_EQ(FormatBuildId(42, "2017"), "20170000000042");
  EXPECT_EQ(GetBuildId().size(), 14u);
}

TEST(CrashReportingConfigTest, EmptyLogFolderVariableCountsAsUnset) {
  // A standard user's process: one that may run elevated takes no folder
  // from its environment.
  const test::ScopedTokenRights token(test::kStandardUserToken);
  ::SetEnvironmentVariableW(L"TARVO_CRASH_LOG_DIR", L"");
  base::FilePath folder;
  // Path key 2002 has no override in the tests.
  EXPECT_FALSE(GetCrashReportingConfig()->GetCrashDumpDirectory(&folder));
  ::SetEnvironmentVariableW(L"TARVO_CRASH_LOG_DIR", L"C:\\crashes");
  ASSERT_TRUE(GetCrashReportingConfig()->GetCrashDumpDirectory(&folder));
  EXPECT_EQ(folder.value(), L"C:\\crashes");
  ::SetEnvironmentVariableW(L"TARVO_CRASH_LOG_DIR", nullptr);
}

TEST(CrashReportingConfigTest, SymbolsPackageOfTheBrowsersTestPrograms) {
  EXPECT_EQ(
      GetSymbolsPackageName(base::FilePath(L"C:\\b\\unit_browsertests.exe")),
      "tests-syms");
  EXPECT_EQ(
      GetSymbolsPackageName(base::FilePath(L"C:\\b\\UNIT_BROWSERTESTS.exe")),
      "browser-syms");
  EXPECT_EQ(GetSymbolsPackageName(base::FilePath(L"C:\\b\\installer.exe")),
            "browser-syms");
}

}  // namespace
}  // namespace installer
