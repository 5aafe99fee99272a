#include "desktop/windows/crash_reporter/reporter_features.h"

#include <memory>
#include <string>

#include "base/command_line.h"
#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/test/scoped_temp_folder.h"
#include "desktop/windows/crash_reporter/reporter_switches.h"
#include "desktop/windows/crash_reporter/test/crash_test_support.h"
#include "desktop/windows/installer/product/branding.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

using test::ScopedCommandLine;

// The preferences file is read after the switch, so it has the last word.
// The feature may be overridden for the product "TRV" (this test program
// carries no branding of its own).
TEST(ReporterFeaturesTest, SwitchThenPreferencesDecide) {
  internal::SetBrandingForTesting(R"({"user_agent_name": "TRV"})");
  struct {
    const char* name;
    const wchar_t* arguments;
    const char* preferences;  // Null: no file.
    bool alternative;
    bool metrics;
  } const kCases[] = {
      {"defaults", L"", nullptr, false, true},
      {"switch on", L"--with-feature:alternative-crash-logging=on", nullptr,
       true, true},
      {"switch with another word", L"--with-feature:alternative-crash-logging=1",
       nullptr, false, true},
      {"flag 1 beats switch off",
       L"--with-feature:alternative-crash-logging=off",
       R"({"browser":{"flags":{"alternative-crash-logging":1}}})", true, true},
      {"flag 2 beats switch on", L"--with-feature:alternative-crash-logging=on",
       R"({"browser":{"flags":{"alternative-crash-logging":2}}})", false, true},
      {"other flag values change nothing",
       L"--with-feature:alternative-crash-logging=on",
       R"({"browser":{"flags":{"alternative-crash-logging":3}}})", true, true},
      {"reporting switched off", L"",
       R"({"user_experience_metrics":{"reporting_enabled":false}})", false,
       false},
      {"a reporting value that is not a boolean", L"",
       R"({"user_experience_metrics":{"reporting_enabled":0}})", false, true},
      {"not a dictionary", L"--with-feature:alternative-crash-logging=on",
       R"([{"user_experience_metrics":{"reporting_enabled":false}}])", true,
       true},
  };
  for (const auto& test : kCases) {
    const base::ScopedTempFolder folder;
    base::FilePath preferences;
    if (test.preferences) {
      preferences = folder.path().Append(L"Preferences");
      const std::string json = test.preferences;
      ASSERT_EQ(static_cast<int>(json.size()),
                base::WriteBufferToFile(preferences, json.data(),
                                        static_cast<int>(json.size())));
    }
    const ScopedCommandLine command_line(test.arguments);
    internal::ResetReporterFeaturesForTesting();

    ApplyFeatureOverrides(preferences);

    EXPECT_EQ(IsAlternativeCrashLoggingEnabled(), test.alternative) << test.name;
    EXPECT_EQ(IsMetricsReportingEnabled(), test.metrics) << test.name;
  }
  internal::ResetReporterFeaturesForTesting();
  internal::ClearBrandingForTesting();
}

TEST(ReporterSwitchesTest, ParentProcessIdIsA32BitDecimal) {
  struct {
    const wchar_t* arguments;
    bool parsed;
    uint32_t pid;
  } const kCases[] = {
      {L"--crash-reporter-parent-id=4294967295", true, 4294967295u},
      {L"--crash-reporter-parent-id=4294967296", false, 0},
      {L"--crash-reporter-parent-id=12a", false, 0},
      {L"--crash-reporter-parent-id=", false, 0},
      {L"", false, 0},
  };
  for (const auto& test : kCases) {
    const ScopedCommandLine command_line(test.arguments);
    uint32_t pid = 0;
    EXPECT_EQ(ParseParentProcessId(&pid), test.parsed) << test.arguments;
    EXPECT_EQ(pid, test.pid) << test.arguments;
  }
}

}  // namespace
}  // namespace installer
