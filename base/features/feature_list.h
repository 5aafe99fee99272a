#ifndef BASE_FEATURES_FEATURE_LIST_H_
#define BASE_FEATURES_FEATURE_LIST_H_

#include <vector>

#include "base/features/feature_reader.h"
#include "base/strings/string_slice.h"

namespace base {

class CommandLine;

// The features a process knows (registered with a default state and whether
// it may be overridden) and the overrides its readers delivered. Registration
// and readers run on the main thread at start-up; afterwards the list is only
// read.
class FeatureList {
 public:
  FeatureList();
  FeatureList(const FeatureList&) = delete;
  FeatureList& operator=(const FeatureList&) = delete;
  ~FeatureList();

  // The process-wide list, made empty on first use and never destroyed.
  static FeatureList* GetInstance();

  // No duplicate check: the first registration of a name is the one that
  // counts.
  void RegisterFeature(StringSlice name, bool state, bool overridable);
  // Overrides only accumulate; the newest one of a name wins.
  void ApplyReader(const FeatureReader& reader);

  // Unregistered features are off whatever the overrides say.
  bool IsEnabled(StringSlice name) const;
  // A copy of the overrides, in the order they were read.
  void GetFeatureStates(std::vector<FeatureEntry>* states) const;

 private:
  std::vector<FeatureEntry> registered_;
  std::vector<FeatureEntry> overrides_;
};

// IsEnabled on the process-wide list.
bool IsFeatureEnabled(StringSlice name);

// Passes the process-wide overrides on to a child: one "with-feature:<name>"
// switch per override, valued "on" or "off", in the order they were read.
void AppendFeatureSwitches(CommandLine* command_line);

}  // namespace base

#endif  // BASE_FEATURES_FEATURE_LIST_H_
