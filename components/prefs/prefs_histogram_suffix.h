#ifndef COMPONENTS_PREFS_PREFS_HISTOGRAM_SUFFIX_H_
#define COMPONENTS_PREFS_PREFS_HISTOGRAM_SUFFIX_H_

#include <string>

#include "base/files/file_path.h"

namespace base {

// What the preferences histograms of `path` are named after: its base name
// with blanks as "_"; empty when the name is not ASCII.
std::string GetPrefsHistogramSuffix(const FilePath& path);

}  // namespace base

#endif  // COMPONENTS_PREFS_PREFS_HISTOGRAM_SUFFIX_H_
