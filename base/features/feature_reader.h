#ifndef BASE_FEATURES_FEATURE_READER_H_
#define BASE_FEATURES_FEATURE_READER_H_

#include <string>
#include <vector>

#include "base/strings/string_slice.h"

namespace base {

// A registered feature, or (name and state only) an override of one.
struct FeatureEntry {
  std::string name;
  bool state = false;  // true = on
  bool overridable = false;
};

// A source of feature overrides (the command line, a stored list).
class FeatureReader {
 public:
  virtual ~FeatureReader();

  // Appends the overrides this source holds, in its own order.
  virtual void ReadFeatures(std::vector<FeatureEntry>* overrides) const = 0;
};

// Real feature names are lower-case ASCII letters, digits, "-" and "_".
// Anything else cannot name a feature here, and would be changed (case) or
// split (blanks, quotes) on its way to a child's command line.
bool IsValidFeatureName(StringSlice name);

// Logs a WARNING that `name`, found in `source`, was ignored.
void LogInvalidFeatureName(StringSlice name, const char* source);

}  // namespace base

#endif  // BASE_FEATURES_FEATURE_READER_H_
