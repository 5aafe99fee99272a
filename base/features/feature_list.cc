#include "base/features/feature_list.h"

#include <algorithm>

#include "base/command_line.h"
#include "base/features/command_line_feature_reader.h"
#include "base/lazy_global.h"

namespace base {

namespace {

// Leaky: readers of feature states may run during exit callbacks.
constinit LazyGlobalInstance<FeatureList> g_feature_list(
    LazyGlobalLifetime::kLeaky);

bool HasName(const FeatureEntry& entry, StringSlice name) {
  return StringSlice(entry.name).Equals(name);
}

}  // namespace

FeatureList::FeatureList() = default;

FeatureList::~FeatureList() = default;

// static
FeatureList* FeatureList::GetInstance() {
  return g_feature_list.Get();
}

void FeatureList::RegisterFeature(StringSlice name,
                                  bool state,
                                  bool overridable) {
  registered_.push_back(FeatureEntry{name.AsString(), state, overridable});
}

void FeatureList::ApplyReader(const FeatureReader& reader) {
  reader.ReadFeatures(&overrides_);
}

bool FeatureList::IsEnabled(StringSlice name) const {
  const auto registered =
      std::find_if(registered_.begin(), registered_.end(),
                   [name](const FeatureEntry& e) { return HasName(e, name); });
  if (registered == registered_.end())
    return false;
  if (!registered->overridable)
    return registered->state;
  const auto newest =
      std::find_if(overrides_.rbegin(), overrides_.rend(),
                   [name](const FeatureEntry& e) { return HasName(e, name); });
  return newest == overrides_.rend() ? registered->state : newest->state;
}

void FeatureList::GetFeatureStates(std::vector<FeatureEntry>* states) const {
  *states = overrides_;
}

bool IsFeatureEnabled(StringSlice name) {
  return FeatureList::GetInstance()->IsEnabled(name);
}

void AppendFeatureSwitches(CommandLine* command_line) {
  std::vector<FeatureEntry> states;
  FeatureList::GetInstance()->GetFeatureStates(&states);
  for (const FeatureEntry& entry : states) {
    command_line->AppendSwitchNative(
        CommandLineFeatureReader::SwitchName(entry.name),
        entry.state ? L"on" : L"off");
  }
}

}  // namespace base
