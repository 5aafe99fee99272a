#ifndef BASE_METRICS_HISTOGRAM_BASE_H_
#define BASE_METRICS_HISTOGRAM_BASE_H_

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "base/strings/string_slice.h"

namespace base {

class BinaryReader;
class BinaryWriter;
class DictionaryValue;
class HistogramSamples;
class ListValue;

enum HistogramType : uint32_t {
  HISTOGRAM = 0,
  LINEAR_HISTOGRAM = 1,
  BOOLEAN_HISTOGRAM = 2,
  CUSTOM_HISTOGRAM = 3,
  SPARSE_HISTOGRAM = 4,
};

// "HISTOGRAM" ... "SPARSE_HISTOGRAM"; "UNKNOWN" for any other code.
const char* HistogramTypeToString(uint32_t type);

// The id of a histogram's samples: the first 8 bytes of the MD5 digest of
// the name, read big-endian.
uint64_t HashHistogramName(StringSlice name);

// A named counter of integer samples. Recording sites get one from the
// get-or-create entry points (histogram.h, sparse_histogram.h), keep the
// pointer for the life of the process and record from any thread.
class HistogramBase {
 public:
  using Sample = int32_t;
  using Count = int32_t;

  static constexpr Sample kSampleMax = INT32_MAX;

  enum Flags : int32_t {
    // Set by every entry point of this program.
    MetricsTargeted = 0x1,
    MetricsStability = 0x2,
    // A sample callback is registered for the name.
    CallbackExists = 0x20,
    // Lives in persistent memory.
    Persistent = 0x40,
  };

  HistogramBase(const HistogramBase&) = delete;
  HistogramBase& operator=(const HistogramBase&) = delete;
  virtual ~HistogramBase();

  const std::string& histogram_name() const { return name_; }
  int32_t flags() const { return flags_.load(std::memory_order_relaxed); }
  void SetFlags(int32_t flags);
  void ClearFlags(int32_t flags);

  virtual uint64_t NameHash() const = 0;
  virtual HistogramType GetHistogramType() const = 0;
  virtual bool HasConstructionArguments(Sample minimum, Sample maximum,
                                        uint32_t bucket_count) const = 0;
  virtual void Add(Sample value);
  // A count of 0 or less is ignored.
  virtual void AddCount(Sample value, int count) = 0;
  virtual void AddSamples(const HistogramSamples& samples) = 0;
  virtual bool AddSamplesFromPickle(BinaryReader* reader) = 0;
  // Bits of `Inconsistency`; none in the base.
  virtual uint32_t FindCorruption(const HistogramSamples& samples) const;
  virtual std::unique_ptr<HistogramSamples> SnapshotSamples() const = 0;
  // The samples added since the previous delta.
  virtual std::unique_ptr<HistogramSamples> SnapshotDelta() = 0;
  // The same, once more, without marking anything as logged.
  virtual std::unique_ptr<HistogramSamples> SnapshotFinalDelta() = 0;
  virtual void WriteHTML(std::string* output) const = 0;
  virtual void WriteAscii(std::string* output) const = 0;
  virtual void SerializeInfo(BinaryWriter* writer) const = 0;
  virtual void GetParameters(DictionaryValue* parameters) const = 0;
  virtual void GetCountAndBucketData(Count* count, int64_t* sum,
                                     ListValue* buckets) const = 0;

 protected:
  explicit HistogramBase(StringSlice name);

  // Runs the sample callback registered for the name, when the flags say
  // one exists and it is still there. Inline: every sample passes here.
  void RunSampleCallback(Sample value) const {
    if (flags() & CallbackExists)
      RunRegisteredCallback(value);
  }

  // "Histogram: <name> recorded <count> samples" with the mean when asked
  // and there are samples, and the flags when any are set.
  void WriteAsciiHeader(Count count, const double* mean,
                        std::string* output) const;
  // The 72-column bar: `size` of `peak` in dashes, an 'O', then blanks.
  static void WriteAsciiBar(double size, double peak, std::string* output);

 private:
  void RunRegisteredCallback(Sample value) const;

  const std::string name_;
  std::atomic<int32_t> flags_{0};
};

}  // namespace base

#endif  // BASE_METRICS_HISTOGRAM_BASE_H_
