#ifndef BASE_METRICS_HISTOGRAM_BASE_H_
#define BASE_METRICS_HISTOGRAM_BASE_H_

#include <cstdint>
#include <string>

namespace base {

// A named, process-wide counter of samples. Made and registered on first
// use, never destroyed; every operation is safe from any thread.
class HistogramBase {
 public:
  HistogramBase(const HistogramBase&) = delete;
  HistogramBase& operator=(const HistogramBase&) = delete;
  virtual ~HistogramBase() = default;

  const std::string& name() const { return name_; }

  virtual void AddSample(int32_t value) = 0;
  // The number of samples counted together with `value`.
  virtual int64_t GetCount(int32_t value) const = 0;
  virtual int64_t TotalCount() const = 0;

 protected:
  explicit HistogramBase(std::string name) : name_(std::move(name)) {}

 private:
  const std::string name_;
};

}  // namespace base

#endif  // BASE_METRICS_HISTOGRAM_BASE_H_
