#ifndef BASE_TEST_HISTOGRAM_COUNTS_H_
#define BASE_TEST_HISTOGRAM_COUNTS_H_

#include <memory>

#include "base/metrics/histogram_base.h"
#include "base/metrics/histogram_samples.h"

namespace base {

// What a histogram has counted, read from a snapshot. Histograms outlive
// tests, so tests compare before and after, or use names of their own.
inline HistogramBase::Count CountOf(const HistogramBase* histogram,
                                    HistogramBase::Sample value) {
  return histogram->SnapshotSamples()->GetCount(value);
}

inline HistogramBase::Count TotalCountOf(const HistogramBase* histogram) {
  return histogram->SnapshotSamples()->TotalCount();
}

}  // namespace base

#endif  // BASE_TEST_HISTOGRAM_COUNTS_H_
