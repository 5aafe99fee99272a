#ifndef BASE_METRICS_HISTOGRAM_SAMPLES_H_
#define BASE_METRICS_HISTOGRAM_SAMPLES_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "base/metrics/histogram_base.h"

namespace base {

class BinaryReader;
class BinaryWriter;

// What a sample set keeps beside its counts. The layout is that of a
// persistent histogram record (24 bytes), where another process may read it.
struct HistogramSampleMetadata {
  // The histogram's name hash; a persistent set whose id is 0 writes its own.
  uint64_t id;
  // Sum of value * count over all samples.
  int64_t sum;
  // The number of samples, kept apart from the counts so that the two can
  // be compared (`Histogram::FindCorruption`).
  int32_t redundant_count;
  int32_t padding;
};
static_assert(sizeof(HistogramSampleMetadata) == 24);

// Walks the non-empty entries of a sample set as (minimum, maximum, count)
// triples. The maximum is 64-bit: a sparse entry of INT32_MAX ends at 2^31.
class SampleCountIterator {
 public:
  virtual ~SampleCountIterator();
  virtual bool Done() const = 0;
  virtual void Next() = 0;
  // Any output may be null.
  virtual void Get(HistogramBase::Sample* minimum, int64_t* maximum,
                   HistogramBase::Count* count) const = 0;
  // False when the iterator has no bucket index.
  virtual bool GetBucketIndex(size_t* index) const;
};

// A set of samples: counts, sum and redundant count. Sets of different kinds
// exchange their entries as triples, so they can be added to and subtracted
// from each other, and serialised.
class HistogramSamples {
 public:
  enum Operation { ADD = 0, SUBTRACT = 1 };

  HistogramSamples(const HistogramSamples&) = delete;
  HistogramSamples& operator=(const HistogramSamples&) = delete;
  virtual ~HistogramSamples();

  virtual void Accumulate(HistogramBase::Sample value,
                          HistogramBase::Count count) = 0;
  virtual HistogramBase::Count GetCount(HistogramBase::Sample value) const = 0;
  // The counts added up (not the redundant count).
  virtual HistogramBase::Count TotalCount() const = 0;
  virtual void Add(const HistogramSamples& other);
  // Adds a set serialised by `Serialize`; false when the sum or the count is
  // missing (nothing changed) or a triple fits no entry.
  virtual bool AddFromPickle(BinaryReader* reader);
  virtual void Subtract(const HistogramSamples& other);
  virtual std::unique_ptr<SampleCountIterator> Iterator() const = 0;
  // Sum (8 bytes), redundant count, then minimum, maximum and count of each
  // non-empty entry; a maximum of 2^31 travels as its low 32 bits.
  virtual bool Serialize(BinaryWriter* writer) const;

  uint64_t id() const;
  int64_t sum() const;
  HistogramBase::Count redundant_count() const;

 protected:
  // Keeps the metadata in `external` when given (persistent memory), else in
  // the set itself. An external id of 0 takes `id`.
  HistogramSamples(uint64_t id, HistogramSampleMetadata* external);

  // Folds the triples into the counts; true when the iterator ran out.
  virtual bool AddSubtractImpl(SampleCountIterator* iterator,
                               Operation operation) = 0;

  void IncreaseSumAndCount(int64_t sum, HistogramBase::Count count) {
    std::atomic_ref<int64_t>(meta_->sum).fetch_add(sum,
                                                   std::memory_order_relaxed);
    std::atomic_ref<int32_t>(meta_->redundant_count)
        .fetch_add(count, std::memory_order_relaxed);
  }

 private:
  HistogramSampleMetadata local_meta_ = {};
  HistogramSampleMetadata* meta_;
};

}  // namespace base

#endif  // BASE_METRICS_HISTOGRAM_SAMPLES_H_
