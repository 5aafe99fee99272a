#ifndef BASE_METRICS_SPARSE_HISTOGRAM_H_
#define BASE_METRICS_SPARSE_HISTOGRAM_H_

#include <cstdint>
#include <map>
#include <mutex>
#include <string>

#include "base/metrics/histogram_base.h"
#include "base/strings/string_slice.h"

namespace base {

// A histogram with one bucket per distinct sample value, for values with no
// useful order such as error codes.
class SparseHistogram : public HistogramBase {
 public:
  // The process-wide histogram of `name`, made and registered on first use;
  // never null.
  static HistogramBase* GetOrCreate(StringSlice name);

  explicit SparseHistogram(std::string name);

  void AddSample(int32_t value) override;
  int64_t GetCount(int32_t value) const override;
  int64_t TotalCount() const override;

 private:
  mutable std::mutex lock_;
  std::map<int32_t, int64_t> counts_;
};

}  // namespace base

#endif  // BASE_METRICS_SPARSE_HISTOGRAM_H_
