#include "desktop/windows/crash_reporter/reporter_features.h"

#include <string>

#include "base/command_line.h"
#include "base/features/feature_tables.h"
#include "base/files/file_path.h"
#include "base/files/new_file_in_folder.h"
#include "base/json/json_file_value_serializer.h"
#include "base/json/json_reader.h"
#include "base/values.h"
#include "desktop/windows/installer/product/branding.h"

namespace installer {

namespace {

constexpr char kFeatureSwitchPrefix[] = "with-feature:";
constexpr char kFeatureFlagsPath[] = "browser.flags.";
constexpr int32_t kFlagOn = 1;
constexpr int32_t kFlagOff = 2;

struct ReporterFeature {
  const char* feature_name;
  const char* preference_path;
  bool state;
  bool overridable;
};

struct ReporterFeatureTable {
  ReporterFeature metrics_reporting;
  ReporterFeature alternative_crash_logging;
};

constexpr ReporterFeatureTable kDefaultFeatures = {
    {nullptr, "user_experience_metrics.reporting_enabled", true, true},
    {"alternative-crash-logging", nullptr, false, true},
};

ReporterFeatureTable g_features = kDefaultFeatures;

ReporterFeature* const kFeatures[] = {&g_features.metrics_reporting,
                                      &g_features.alternative_crash_logging};

void ApplyFeatureTable(ReporterFeature* feature) {
  const base::FeatureTableRow* row = base::FindFeature(feature->feature_name);
  if (!row)
    return;
  const base::ProductChannelMask mask =
      base::GetProductChannelMask(GetUserAgentName());
  feature->state = base::IsFeatureEnabledByDefault(*row, mask);
  feature->overridable = base::IsFeatureAvailable(*row, mask);
}

void ApplySwitch(ReporterFeature* feature) {
  const std::string value =
      base::CommandLine::ForCurrentProcess()->GetSwitchValueASCII(
          std::string(kFeatureSwitchPrefix) + feature->feature_name);
  if (value == "off")
    feature->state = false;
  else if (value == "on")
    feature->state = true;
}

void ApplyPreferences(const base::DictionaryValue& preferences,
                      ReporterFeature* feature) {
  if (feature->feature_name) {
    int32_t flag = 0;
    if (!preferences.GetInteger(
            std::string(kFeatureFlagsPath) + feature->feature_name, &flag)) {
      return;
    }
    if (flag == kFlagOn)
      feature->state = true;
    else if (flag == kFlagOff)
      feature->state = false;
    return;
  }
  if (feature->preference_path)
    preferences.GetBoolean(feature->preference_path, &feature->state);
}

}  // namespace

void ApplyFeatureOverrides(const base::FilePath& preferences_file) {
  for (ReporterFeature* feature : kFeatures) {
    if (feature->feature_name)
      ApplyFeatureTable(feature);
  }
  for (ReporterFeature* feature : kFeatures) {
    if (feature->feature_name && feature->overridable)
      ApplySwitch(feature);
  }
  std::string json;
  if (preferences_file.empty() ||
      !base::NewFileInFolder::ReadToString(preferences_file.value(),
                                           base::kJsonFileMaxSize, &json)) {
    return;
  }
  const base::DictionaryValueOwner preferences =
      base::DictionaryValue::From(base::ReadJson(json));
  if (!preferences)
    return;
  for (ReporterFeature* feature : kFeatures) {
    if (feature->overridable)
      ApplyPreferences(*preferences, feature);
  }
}

bool IsMetricsReportingEnabled() {
  return g_features.metrics_reporting.state;
}

bool IsAlternativeCrashLoggingEnabled() {
  return g_features.alternative_crash_logging.state;
}

namespace internal {

void ResetReporterFeaturesForTesting() {
  g_features = kDefaultFeatures;
}

}  // namespace internal

}  // namespace installer
