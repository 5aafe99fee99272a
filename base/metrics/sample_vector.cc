#include "base/metrics/sample_vector.h"

#include <atomic>

#include "base/logging.h"
#include "base/metrics/bucket_ranges.h"

namespace base {

namespace {

int32_t LoadCount(const int32_t& count) {
  return std::atomic_ref<int32_t>(const_cast<int32_t&>(count))
      .load(std::memory_order_relaxed);
}

// Buckets with a count, in order.
class SampleVectorIterator : public SampleCountIterator {
 public:
  SampleVectorIterator(const SampleVector& samples) : samples_(samples) {
    SkipEmpty();
  }

  bool Done() const override {
    return index_ >= samples_.bucket_ranges()->bucket_count();
  }

  void Next() override {
    ++index_;
    SkipEmpty();
  }

  void Get(HistogramBase::Sample* minimum, int64_t* maximum,
           HistogramBase::Count* count) const override {
    const BucketRanges* ranges = samples_.bucket_ranges();
    if (minimum)
      *minimum = ranges->range(index_);
    if (maximum)
      *maximum = ranges->range(index_ + 1);
    if (count)
      *count = count_;
  }

  bool GetBucketIndex(size_t* index) const override {
    *index = index_;
    return true;
  }

 private:
  // Each count is read once, so `Get` agrees with what made it non-empty.
  void SkipEmpty() {
    for (; !Done(); ++index_) {
      count_ = samples_.GetCountAtIndex(index_);
      if (count_ != 0)
        return;
    }
  }

  const SampleVector& samples_;
  size_t index_ = 0;
  HistogramBase::Count count_ = 0;
};

}  // namespace

SampleVector::SampleVector(uint64_t id, const BucketRanges* ranges)
    : HistogramSamples(id, nullptr),
      local_counts_(ranges->bucket_count()),
      counts_(local_counts_.data()),
      counts_size_(ranges->bucket_count()),
      ranges_(ranges) {
  CHECK(ranges->size() >= 2) << "Bucket ranges without a bucket";
}

SampleVector::SampleVector(uint64_t id, int32_t* counts,
                           HistogramSampleMetadata* meta,
                           const BucketRanges* ranges)
    : HistogramSamples(id, meta),
      counts_(counts),
      counts_size_(ranges->bucket_count()),
      ranges_(ranges) {
  CHECK(ranges->size() >= 2) << "Bucket ranges without a bucket";
}

SampleVector::~SampleVector() = default;

void SampleVector::Accumulate(HistogramBase::Sample value,
                              HistogramBase::Count count) {
  const size_t index = GetBucketIndex(value);
  std::atomic_ref<int32_t>(counts_[index])
      .fetch_add(count, std::memory_order_relaxed);
  IncreaseSumAndCount(int64_t{value} * count, count);
}

HistogramBase::Count SampleVector::GetCount(HistogramBase::Sample value) const {
  return GetCountAtIndex(GetBucketIndex(value));
}

HistogramBase::Count SampleVector::GetCountAtIndex(size_t index) const {
  return LoadCount(counts_[index]);
}

HistogramBase::Count SampleVector::TotalCount() const {
  // 32-bit like each count: a wrap shows as a corrupt redundant count.
  uint32_t total = 0;
  for (size_t i = 0; i < counts_size_; ++i)
    total += static_cast<uint32_t>(LoadCount(counts_[i]));
  return static_cast<HistogramBase::Count>(total);
}

std::unique_ptr<SampleCountIterator> SampleVector::Iterator() const {
  return std::make_unique<SampleVectorIterator>(*this);
}

size_t SampleVector::GetBucketIndex(HistogramBase::Sample value) const {
  const size_t bucket_count = ranges_->bucket_count();
  CHECK(value >= ranges_->range(0) && value < ranges_->range(bucket_count))
      << "Sample " << value << " outside the bucket ranges";
  size_t lo = 0;
  size_t hi = bucket_count;
  size_t mid = hi / 2;
  do {
    if (ranges_->range(mid) <= value)
      lo = mid;
    else
      hi = mid;
    mid = lo + (hi - lo) / 2;
  } while (mid != lo);
  return mid;
}

bool SampleVector::AddSubtractImpl(SampleCountIterator* iterator,
                                   Operation operation) {
  size_t index = 0;
  while (index < counts_size_ && !iterator->Done()) {
    HistogramBase::Sample minimum = 0;
    int64_t maximum = 0;
    HistogramBase::Count count = 0;
    iterator->Get(&minimum, &maximum, &count);
    const int32_t lower = ranges_->range(index);
    if (minimum == lower && maximum == ranges_->range(index + 1)) {
      const int32_t delta = operation == ADD ? count : -count;
      std::atomic_ref<int32_t>(counts_[index])
          .fetch_add(delta, std::memory_order_relaxed);
      iterator->Next();
    } else if (minimum <= lower) {
      return false;
    } else {
      ++index;
    }
  }
  return iterator->Done();
}

PersistentSampleVector::PersistentSampleVector(uint64_t id, int32_t* counts,
                                               HistogramSampleMetadata* meta,
                                               const BucketRanges* ranges)
    : SampleVector(id, counts, meta, ranges) {}

}  // namespace base
