#ifndef BASE_METRICS_HISTOGRAM_REGISTRY_H_
#define BASE_METRICS_HISTOGRAM_REGISTRY_H_

#include <memory>

#include "base/closure.h"
#include "base/metrics/histogram_base.h"
#include "base/strings/string_slice.h"

namespace base {

class BucketRanges;
struct HistogramRegistryMaps;

// The process's directory of histograms by name, bucket ranges by checksum
// and sample callbacks by histogram name. The process never creates its
// maps: without them registration hands back what it is given, lookups find
// nothing and no callback exists. Only tests give it maps
// (`ScopedMapsForTesting`).
class HistogramRegistry {
 public:
  using SampleCallback = Callback<void(HistogramBase::Sample)>;

  // Returns the histogram registered under the name, deleting the argument
  // when that is another one; else registers the argument.
  static HistogramBase* RegisterOrDeleteDuplicate(
      std::unique_ptr<HistogramBase> histogram);
  // The registered set equal to the argument (which is then deleted), or
  // the argument, now registered.
  static const BucketRanges* RegisterOrDeleteDuplicateRanges(
      std::unique_ptr<BucketRanges> ranges);
  // First imports what the installed persistent allocator holds.
  static HistogramBase* Find(StringSlice name);
  // A reference to the callback of the name, or an empty callback.
  static SampleCallback FindSampleCallback(StringSlice name);

  // While it lives the registry has maps of its own, or none at all when
  // `with_maps` is false, in place of what it had. What was registered
  // meanwhile stays alive afterwards: callers keep pointers to histograms,
  // and histograms to ranges.
  class ScopedMapsForTesting {
   public:
    explicit ScopedMapsForTesting(bool with_maps = true);
    ScopedMapsForTesting(const ScopedMapsForTesting&) = delete;
    ScopedMapsForTesting& operator=(const ScopedMapsForTesting&) = delete;
    ~ScopedMapsForTesting();

    // Only with maps.
    void SetCallback(StringSlice name, SampleCallback callback);

   private:
    HistogramRegistryMaps* const maps_;
    HistogramRegistryMaps* const previous_;
  };
};

}  // namespace base

#endif  // BASE_METRICS_HISTOGRAM_REGISTRY_H_
