#include "base/features/command_line_feature_reader.h"

#include <iterator>
#include <string>
#include <vector>

#include "base/command_line.h"
#include "base/test/scoped_log_capture.h"
#include "gtest/gtest.h"

namespace base {
namespace {

using Lines = std::vector<std::string>;

// Each override as "<name> on|off".
Lines ReadFromArguments(const std::vector<std::wstring>& arguments) {
  std::vector<std::wstring> argv = {L"installer.exe"};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  CommandLine command_line(CommandLine::NO_PROGRAM);
  command_line.InitFromArgv(argv);
  std::vector<FeatureEntry> overrides;
  CommandLineFeatureReader(command_line).ReadFeatures(&overrides);
  Lines read;
  for (const FeatureEntry& entry : overrides)
    read.push_back(entry.name + (entry.state ? " on" : " off"));
  return read;
}

TEST(CommandLineFeatureReaderTest, ReadsFeatureSwitches) {
  const struct {
    std::vector<std::wstring> arguments;
    Lines overrides;
    size_t warnings;
  } kCases[] = {
      {{L"--with-feature:alpha"}, {"alpha on"}, 0},
      {{L"--with-feature:alpha=on"}, {"alpha on"}, 0},
      {{L"--with-feature:alpha=off"}, {"alpha off"}, 0},
      {{L"/with-feature:alpha=off"}, {"alpha off"}, 0},
      // Names are lower-cased by the command line; values are not.
      {{L"--WITH-FEATURE:Alpha_2=off"}, {"alpha_2 off"}, 0},
      {{L"--with-feature:alpha=ON"}, {}, 1},
      {{L"--with-feature:alpha=1"}, {}, 1},
      // Walked in switch-name order, not in the order given.
      {{L"--with-feature:b=off", L"--with-feature:a=on"}, {"a on", "b off"}, 0},
      // The command line keeps the last value of a repeated switch.
      {{L"--with-feature:a=on", L"--with-feature:a=off"}, {"a off"}, 0},
      {{L"--with-featurex=on", L"--other=on", L"with-feature:plain"}, {}, 0},
      // Not feature names.
      {{L"--with-feature:=on"}, {}, 1},
      {{L"--with-feature:a.b=on", L"--with-feature:a:b=on"}, {}, 2},
  };
  for (size_t i = 0; i < std::size(kCases); ++i) {
    ScopedLogCapture log;
    EXPECT_EQ(kCases[i].overrides, ReadFromArguments(kCases[i].arguments))
        << "case " << i;
    EXPECT_EQ(kCases[i].warnings, log.lines().size()) << "case " << i;
  }
}

TEST(CommandLineFeatureReaderTest, UnhandledValueWarningNamesSwitchAndValue) {
  ScopedLogCapture log;
  ReadFromArguments({L"--with-feature:installer-experiment-test=ON"});
  ASSERT_EQ(1u, log.lines().size());
  EXPECT_EQ(
      "with-feature:installer-experiment-test has unhandled value: \"ON\" "
      "did you mean \"on\" or \"off\"? Using default setting.",
      log.lines()[0]);
}

TEST(CommandLineFeatureReaderTest, SwitchNameRoundTripsThroughCommandLine) {
  CommandLine command_line(CommandLine::NO_PROGRAM);
  command_line.AppendSwitchASCII(
      CommandLineFeatureReader::SwitchName("installer-support-x64-download"),
      "off");
  EXPECT_EQ(L"--with-feature:installer-support-x64-download=off",
            command_line.GetArgumentsString());
}

}  // namespace
}  // namespace base
