#ifndef BASE_METRICS_HISTOGRAM_H_
#define BASE_METRICS_HISTOGRAM_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "base/metrics/histogram_base.h"
#include "base/strings/string_slice.h"
#include "base/time/time_delta.h"

namespace base {

class BucketRanges;
class SampleVector;
struct HistogramSampleMetadata;

// The get-or-create entry points. Each returns the histogram to record
// into: the registered one of the name when there is a registry, else a new
// one. Arguments are clamped (minimum at least 1, maximum at most
// 0x7FFFFFFE, at most 16383 buckets); fewer than 3 buckets, or a maximum not
// above the minimum, give null with a logged error, and so does a
// registered histogram of the name with another shape. Callers keep the
// pointer and check it once.
HistogramBase* GetExponentialHistogram(StringSlice name, int32_t minimum,
                                       int32_t maximum, int32_t bucket_count,
                                       int32_t flags);
// Minimum 1, 50 buckets, `MetricsTargeted`.
HistogramBase* GetCountsHistogram(StringSlice name, int32_t maximum);
// Bounds in whole milliseconds, saturated to 32 bits; 50 buckets,
// `MetricsTargeted`.
HistogramBase* GetTimeHistogram(StringSlice name, TimeDelta minimum,
                                TimeDelta maximum);
// Minimum 1, evenly spaced boundaries, `MetricsTargeted`.
HistogramBase* GetLinearHistogram(StringSlice name, int32_t maximum,
                                  int32_t bucket_count);

// Bits of `FindCorruption`.
enum Inconsistency : uint32_t {
  kRangesChecksumWrong = 0x1,
  kBoundariesOutOfOrder = 0x2,
  kCountTooHigh = 0x4,
  kCountTooLow = 0x8,
};

// A histogram of exponentially widening buckets: bucket 0 takes what lies
// below the minimum, the last one what lies from the maximum on.
class Histogram : public HistogramBase {
 public:
  // On the heap. `ranges` is shared and must outlive the histogram.
  Histogram(StringSlice name, Sample minimum, Sample maximum,
            const BucketRanges* ranges);
  // Over counts and metadata in a persistent segment (`logged_counts` is the
  // second half of the counts block).
  Histogram(StringSlice name, Sample minimum, Sample maximum,
            const BucketRanges* ranges, int32_t* counts, int32_t* logged_counts,
            HistogramSampleMetadata* meta,
            HistogramSampleMetadata* logged_meta);
  ~Histogram() override;

  // Fills boundaries 0, `minimum`, exponentially widening steps up to
  // `maximum`, then INT32_MAX, and the checksum.
  static void InitializeBucketRanges(Sample minimum, Sample maximum,
                                     BucketRanges* ranges);

  uint64_t NameHash() const override;
  HistogramType GetHistogramType() const override;
  bool HasConstructionArguments(Sample minimum, Sample maximum,
                                uint32_t bucket_count) const override;
  void Add(Sample value) override;
  void AddCount(Sample value, int count) override;
  void AddSamples(const HistogramSamples& samples) override;
  bool AddSamplesFromPickle(BinaryReader* reader) override;
  uint32_t FindCorruption(const HistogramSamples& samples) const override;
  std::unique_ptr<HistogramSamples> SnapshotSamples() const override;
  std::unique_ptr<HistogramSamples> SnapshotDelta() override;
  std::unique_ptr<HistogramSamples> SnapshotFinalDelta() override;
  void WriteHTML(std::string* output) const override;
  void WriteAscii(std::string* output) const override;
  void SerializeInfo(BinaryWriter* writer) const override;
  void GetParameters(DictionaryValue* parameters) const override;
  void GetCountAndBucketData(Count* count, int64_t* sum,
                             ListValue* buckets) const override;

  virtual Sample GetRange(size_t i) const;
  virtual uint32_t GetBucketCount() const;
  virtual bool PrintEmptyBucket(uint32_t index) const;
  // The count per unit of the bucket's width, the width taken as at most 5.
  virtual double GetBucketSize(Count current, uint32_t index) const;
  virtual std::string GetAsciiBucketRange(uint32_t index) const;

  const BucketRanges* bucket_ranges() const { return ranges_; }
  Sample declared_min() const { return declared_min_; }
  Sample declared_max() const { return declared_max_; }

 private:
  std::unique_ptr<SampleVector> CopySamples() const;
  void WriteAsciiImpl(const char* newline, std::string* output) const;

  const BucketRanges* const ranges_;
  const Sample declared_min_;
  const Sample declared_max_;
  std::unique_ptr<SampleVector> samples_;
  std::unique_ptr<SampleVector> logged_samples_;
  bool final_delta_created_ = false;
};

}  // namespace base

#endif  // BASE_METRICS_HISTOGRAM_H_
