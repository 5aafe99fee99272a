#include "components/prefs/prefs_histogram_suffix.h"

#include <algorithm>

namespace base {

std::string GetPrefsHistogramSuffix(const FilePath& path) {
  std::string suffix = path.BaseName().AsASCIIOrEmpty();
  std::replace(suffix.begin(), suffix.end(), ' ', '_');
  return suffix;
}

}  // namespace base
