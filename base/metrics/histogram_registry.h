#ifndef BASE_METRICS_HISTOGRAM_REGISTRY_H_
#define BASE_METRICS_HISTOGRAM_REGISTRY_H_

#include <memory>

#include "base/strings/string_slice.h"

namespace base {

class HistogramBase;

// The process's histograms by name. Registered histograms live until the
// process ends, so callers may keep the pointers.
class HistogramRegistry {
 public:
  // The histogram registered under `name`, or null.
  static HistogramBase* Find(StringSlice name);

  // Registers `histogram` unless its name is taken, and returns the one
  // registered under the name: the first comes first, whatever its kind.
  static HistogramBase* Register(std::unique_ptr<HistogramBase> histogram);
};

}  // namespace base

#endif  // BASE_METRICS_HISTOGRAM_REGISTRY_H_
