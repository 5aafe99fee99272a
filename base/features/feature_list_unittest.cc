#include "base/features/feature_list.h"

#include <windows.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "base/command_line.h"
#include "base/features/command_line_feature_reader.h"
#include "base/features/feature_tables.h"
#include "base/features/list_feature_reader.h"
#include "base/files/file_path.h"
#include "base/test/scoped_log_capture.h"
#include "base/values.h"
#include "base/test/child_output.h"
#include "gtest/gtest.h"

namespace base {
namespace {

// Delivers a fixed set of overrides.
class FixedFeatureReader : public FeatureReader {
 public:
  explicit FixedFeatureReader(std::vector<FeatureEntry> overrides)
      : overrides_(std::move(overrides)) {}

  void ReadFeatures(std::vector<FeatureEntry>* overrides) const override {
    overrides->insert(overrides->end(), overrides_.begin(), overrides_.end());
  }

 private:
  std::vector<FeatureEntry> overrides_;
};

FeatureEntry Override(const char* name, bool state) {
  return FeatureEntry{name, state, false};
}

TEST(FeatureListTest, OverridesApplyOnlyToOverridableRegisteredFeatures) {
  FeatureList list;
  list.RegisterFeature("alpha", false, true);
  list.RegisterFeature("beta", true, false);
  list.RegisterFeature("gamma", true, true);
  list.RegisterFeature("delta", false, true);
  // A later registration of a name changes nothing.
  list.RegisterFeature("alpha", true, false);
  list.ApplyReader(FixedFeatureReader({Override("alpha", true),
                                       Override("beta", false),
                                       Override("unregistered", true),
                                       Override("delta", true)}));
  // A second reader's overrides are newer.
  list.ApplyReader(FixedFeatureReader({Override("delta", false)}));

  const struct {
    const char* name;
    bool enabled;
  } kCases[] = {
      {"alpha", true},          // overridden on
      {"beta", true},           // not overridable: the override is ignored
      {"gamma", true},          // no override: registered state
      {"delta", false},         // the newest override wins
      {"unregistered", false},  // unregistered features are always off
      {"ALPHA", false},         // names match exactly
      {"", false},
  };
  for (const auto& c : kCases)
    EXPECT_EQ(c.enabled, list.IsEnabled(c.name)) << c.name;
}

TEST(FeatureListTest, FeatureStatesKeepEveryOverrideInReadOrder) {
  FeatureList list;
  list.RegisterFeature("alpha", false, true);
  list.ApplyReader(FixedFeatureReader(
      {Override("zeta", true), Override("alpha", true)}));
  list.ApplyReader(FixedFeatureReader({Override("alpha", false)}));

  std::vector<FeatureEntry> states = {Override("stale", true)};
  list.GetFeatureStates(&states);
  ASSERT_EQ(3u, states.size());
  EXPECT_EQ("zeta", states[0].name);
  EXPECT_TRUE(states[0].state);
  EXPECT_EQ("alpha", states[1].name);
  EXPECT_TRUE(states[1].state);
  EXPECT_EQ("alpha", states[2].name);
  EXPECT_FALSE(states[2].state);
}

// The child peer: feature_echo sets up its feature list from its own command
// line and prints switches, overrides, feature states and log lines.
struct ChildReport {
  std::vector<std::string> switches;
  std::vector<std::string> overrides;
  std::vector<std::string> enabled;
  std::vector<std::string> logs;
};


FilePath FeatureEchoPath() {
  wchar_t module[MAX_PATH];
  const DWORD length = ::GetModuleFileNameW(nullptr, module, MAX_PATH);
  return FilePath(WideStringSlice(module, length))
      .DirName()
      .Append(L"feature_echo.exe");
}

void SortReportLine(const std::string& line, ChildReport* report) {
  const size_t space = line.find(' ');
  if (space == std::string::npos)
    return;
  const std::string tag = line.substr(0, space);
  const std::string rest = line.substr(space + 1);
  if (tag == "switch")
    report->switches.push_back(rest);
  else if (tag == "override")
    report->overrides.push_back(rest);
  else if (tag == "enabled")
    report->enabled.push_back(rest);
  else if (tag == "log")
    report->logs.push_back(rest);
}

// Runs `command_line_text` (which starts with the quoted program) and
// collects the child's report; false when it could not run or failed.
bool RunFeatureEcho(std::wstring command_line_text, ChildReport* report) {
  std::string output;
  const bool ran = RunChildAndReadOutput(FeatureEchoPath().value(),
                                         std::move(command_line_text), &output);
  for (const std::string& line : SplitOutputLines(output))
    SortReportLine(line, report);
  return ran;
}

using Lines = std::vector<std::string>;

// The only test that touches the process-wide list: it stands for an
// installer that read its stored list and its own command line and now
// starts the process that performs the installation.
TEST(FeatureSwitchesChildTest, ChildReadsBackTheStatesPassedOn) {
  ScopedLogCapture log;
  FeatureList* features = FeatureList::GetInstance();
  RegisterInstallerFeatures("TRV", features);
  ListValue stored;
  stored.AppendString("installer-experiment-test@1");
  stored.AppendString("installer-support-x64-download @ 2");
  stored.AppendString("not-registered-here@1");
  // Names that would turn into other switches, or change case, on the way.
  stored.AppendString("x\" --product=QMX --with-feature:evil=on \"@1");
  stored.AppendString("Installer-Experiment-Test@2");
  features->ApplyReader(ListFeatureReader(stored));
  EXPECT_EQ(2u, log.lines().size());
  CommandLine own(CommandLine::NO_PROGRAM);
  own.AppendSwitchASCII(
      CommandLineFeatureReader::SwitchName(
          "installer-pref-default-overrides-support"),
      "off");
  features->ApplyReader(CommandLineFeatureReader(own));

  CommandLine child(FeatureEchoPath());
  AppendFeatureSwitches(&child);
  ChildReport report;
  ASSERT_TRUE(RunFeatureEcho(child.GetCommandLineString(), &report))
      << "feature_echo.exe must be built beside the tests";

  EXPECT_EQ((Lines{"with-feature:installer-experiment-test=on",
                   "with-feature:installer-pref-default-overrides-support=off",
                   "with-feature:installer-support-x64-download=off",
                   "with-feature:not-registered-here=on"}),
            report.switches);
  // The child's reader walks its switches in name order.
  EXPECT_EQ((Lines{"installer-experiment-test on",
                   "installer-pref-default-overrides-support off",
                   "installer-support-x64-download off",
                   "not-registered-here on"}),
            report.overrides);
  EXPECT_EQ((Lines{"installer-experiment-test 1",
                   "installer-hide-from-program-and-features 0",
                   "installer-pref-default-overrides-support 0",
                   "installer-support-x64-download 0"}),
            report.enabled);
  for (const FeatureTableRow& row : GetInstallerFeatureTable()) {
    const std::string line =
        std::string(row.name) + (IsFeatureEnabled(row.name) ? " 1" : " 0");
    EXPECT_NE(report.enabled.end(),
              std::find(report.enabled.begin(), report.enabled.end(), line))
        << "the child disagrees on " << line;
  }
  EXPECT_TRUE(report.logs.empty());
}

TEST(FeatureSwitchesChildTest, ChildWarnsAboutValuesAndNamesItCannotUse) {
  std::wstring text = L"\"" + FeatureEchoPath().value() + L"\"";
  // Switch names are lower-cased by the child's command line, values not.
  text += L" --With-Feature:Installer-Experiment-Test=ON";
  text += L" --with-feature:installer-support-x64-download=off";
  text += L" --with-feature:bad.name=on";
  text += L" --with-feature:installer-pref-default-overrides-support";
  ChildReport report;
  ASSERT_TRUE(RunFeatureEcho(text, &report));

  EXPECT_EQ((Lines{"installer-pref-default-overrides-support on",
                   "installer-support-x64-download off"}),
            report.overrides);
  EXPECT_EQ((Lines{"installer-experiment-test 0",
                   "installer-hide-from-program-and-features 0",
                   "installer-pref-default-overrides-support 1",
                   "installer-support-x64-download 0"}),
            report.enabled);
  ASSERT_EQ(2u, report.logs.size());
  EXPECT_NE(std::string::npos, report.logs[0].find("\"bad.name\""))
      << report.logs[0];
  EXPECT_EQ(
      "with-feature:installer-experiment-test has unhandled value: \"ON\" "
      "did you mean \"on\" or \"off\"? Using default setting.",
      report.logs[1]);
}

}  // namespace
}  // namespace base
