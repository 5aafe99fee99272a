#include "base/features/command_line_feature_reader.h"

#include "base/command_line.h"
#include "base/logging.h"

namespace base {

namespace {

constexpr char kFeatureSwitchPrefix[] = "with-feature:";
constexpr char kStateOn[] = "on";
constexpr char kStateOff[] = "off";

}  // namespace

CommandLineFeatureReader::CommandLineFeatureReader(
    const CommandLine& command_line)
    : command_line_(command_line) {}

CommandLineFeatureReader::~CommandLineFeatureReader() = default;

// static
std::string CommandLineFeatureReader::SwitchName(StringSlice feature_name) {
  std::string name = kFeatureSwitchPrefix;
  name.append(feature_name.data(), feature_name.size());
  return name;
}

void CommandLineFeatureReader::ReadFeatures(
    std::vector<FeatureEntry>* overrides) const {
  const StringSlice prefix(kFeatureSwitchPrefix);
  for (const auto& [switch_name, unused] : command_line_.GetSwitches()) {
    const StringSlice name(switch_name);
    if (!name.Substr(0, prefix.size()).Equals(prefix))
      continue;
    const StringSlice feature = name.Substr(prefix.size());
    if (!IsValidFeatureName(feature)) {
      LogInvalidFeatureName(feature, "the command line");
      continue;
    }
    const std::string value = command_line_.GetSwitchValueASCII(switch_name);
    if (value.empty() || value == kStateOn) {
      overrides->push_back(FeatureEntry{feature.AsString(), true, false});
    } else if (value == kStateOff) {
      overrides->push_back(FeatureEntry{feature.AsString(), false, false});
    } else {
      LOG(WARNING) << switch_name << " has unhandled value: \"" << value
                   << "\" did you mean \"on\" or \"off\"? Using default "
                      "setting.";
    }
  }
}

}  // namespace base
