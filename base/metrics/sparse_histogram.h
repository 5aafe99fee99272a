#ifndef BASE_METRICS_SPARSE_HISTOGRAM_H_
#define BASE_METRICS_SPARSE_HISTOGRAM_H_

#include <cstdint>
#include <memory>
#include <string>

#include "base/metrics/histogram_base.h"
#include "base/strings/string_slice.h"
#include "base/threading/lock.h"

namespace base {

class HistogramSamples;
class PersistentHistogramAllocator;
struct HistogramSampleMetadata;

// A histogram with one count per distinct value, for values from a large,
// thinly used space such as error codes. Values are counted as given.
class SparseHistogram : public HistogramBase {
 public:
  // The histogram to record into: the registered one of the name when there
  // is a registry, else a new one.
  static HistogramBase* GetOrCreate(StringSlice name,
                                    int32_t flags = MetricsTargeted);

  // On the heap.
  explicit SparseHistogram(StringSlice name);
  // Over records in `allocator`'s segment; the logged samples use the id
  // after the live ones.
  SparseHistogram(PersistentHistogramAllocator* allocator, StringSlice name,
                  HistogramSampleMetadata* meta,
                  HistogramSampleMetadata* logged_meta);
  ~SparseHistogram() override;

  uint64_t NameHash() const override;
  HistogramType GetHistogramType() const override;
  bool HasConstructionArguments(Sample minimum, Sample maximum,
                                uint32_t bucket_count) const override;
  void AddCount(Sample value, int count) override;
  void AddSamples(const HistogramSamples& samples) override;
  bool AddSamplesFromPickle(BinaryReader* reader) override;
  std::unique_ptr<HistogramSamples> SnapshotSamples() const override;
  std::unique_ptr<HistogramSamples> SnapshotDelta() override;
  std::unique_ptr<HistogramSamples> SnapshotFinalDelta() override;
  void WriteHTML(std::string* output) const override;
  void WriteAscii(std::string* output) const override;
  void SerializeInfo(BinaryWriter* writer) const override;
  void GetParameters(DictionaryValue* parameters) const override;
  void GetCountAndBucketData(Count* count, int64_t* sum,
                             ListValue* buckets) const override;

 private:
  // Call with the lock held.
  std::unique_ptr<HistogramSamples> CopySamplesLocked() const;
  void WriteAsciiImpl(const char* newline, std::string* output) const;

  mutable Lock lock_;
  bool final_delta_created_ = false;
  std::unique_ptr<HistogramSamples> samples_;
  std::unique_ptr<HistogramSamples> logged_samples_;
};

}  // namespace base

#endif  // BASE_METRICS_SPARSE_HISTOGRAM_H_
