#include "base/metrics/histogram_factory.h"

#include <algorithm>

#include "base/logging.h"
#include "base/metrics/bucket_ranges.h"
#include "base/metrics/histogram.h"
#include "base/metrics/histogram_registry.h"
#include "base/metrics/linear_histogram.h"
#include "base/metrics/persistent_histogram_allocator.h"
#include "base/metrics/persistent_memory_allocator.h"

namespace base {

namespace {

constexpr int32_t kLargestMaximum = HistogramBase::kSampleMax - 1;
constexpr int32_t kMostBuckets = 16383;
constexpr int32_t kDefaultBuckets = 50;
// Below this a histogram has no bucket between underflow and overflow (and
// the linear spacing divides by zero).
constexpr uint32_t kFewestBuckets = 3;

class ExponentialHistogramFactory : public HistogramFactory {
 public:
  using HistogramFactory::HistogramFactory;

 protected:
  std::unique_ptr<BucketRanges> CreateRanges() override {
    auto ranges = std::make_unique<BucketRanges>(bucket_count() + 1);
    Histogram::InitializeBucketRanges(minimum(), maximum(), ranges.get());
    return ranges;
  }

  std::unique_ptr<HistogramBase> HeapAlloc(
      const BucketRanges* ranges) override {
    return std::make_unique<Histogram>(name(), minimum(), maximum(), ranges);
  }
};

class LinearHistogramFactory : public HistogramFactory {
 public:
  LinearHistogramFactory(StringSlice name, HistogramBase::Sample minimum,
                         HistogramBase::Sample maximum, uint32_t bucket_count,
                         int32_t flags,
                         const LinearHistogram::BucketLabel* labels)
      : HistogramFactory(LINEAR_HISTOGRAM, name, minimum, maximum, bucket_count,
                         flags),
        labels_(labels) {}

 protected:
  std::unique_ptr<BucketRanges> CreateRanges() override {
    auto ranges = std::make_unique<BucketRanges>(bucket_count() + 1);
    LinearHistogram::InitializeBucketRanges(minimum(), maximum(), ranges.get());
    return ranges;
  }

  std::unique_ptr<HistogramBase> HeapAlloc(
      const BucketRanges* ranges) override {
    return std::make_unique<LinearHistogram>(name(), minimum(), maximum(),
                                             ranges);
  }

  void FillHistogram(HistogramBase* histogram) override {
    static_cast<LinearHistogram*>(histogram)->SetBucketLabels(labels_);
  }

 private:
  const LinearHistogram::BucketLabel* const labels_;
};

int32_t ClampMinimum(int32_t minimum) {
  return std::max(minimum, 1);
}

int32_t ClampMaximum(int32_t maximum) {
  return std::min(maximum, kLargestMaximum);
}

int32_t ClampBucketCount(int32_t bucket_count) {
  return std::min(bucket_count, kMostBuckets);
}

// Whole milliseconds, saturated to 32 bits.
int32_t ClampedMilliseconds(TimeDelta delta) {
  const int64_t milliseconds = delta.InMilliseconds();
  return static_cast<int32_t>(
      std::clamp<int64_t>(milliseconds, INT32_MIN, HistogramBase::kSampleMax));
}

}  // namespace

HistogramFactory::HistogramFactory(HistogramType type, StringSlice name,
                                   HistogramBase::Sample minimum,
                                   HistogramBase::Sample maximum,
                                   uint32_t bucket_count, int32_t flags)
    : type_(type),
      name_(name.AsString()),
      minimum_(minimum),
      maximum_(maximum),
      bucket_count_(bucket_count),
      flags_(flags) {}

HistogramFactory::~HistogramFactory() = default;

void HistogramFactory::FillHistogram(HistogramBase*) {}

HistogramBase* HistogramFactory::Build() {
  if (bucket_count_ < kFewestBuckets || maximum_ <= minimum_) {
    LOG(ERROR) << "Histogram " << name_ << " not made: " << bucket_count_
               << " buckets from " << minimum_ << " to " << maximum_;
    return nullptr;
  }
  HistogramBase* histogram = HistogramRegistry::Find(name_);
  if (!histogram)
    histogram = BuildAndRegister();
  // Names and kinds are fixed at the recording sites: a clash is a bug.
  CHECK(histogram->GetHistogramType() == type_)
      << "Histogram " << name_ << " exists with another type";
  if (!histogram->HasConstructionArguments(minimum_, maximum_, bucket_count_)) {
    LOG(ERROR) << "Histogram " << name_ << " exists with another shape";
    return nullptr;
  }
  return histogram;
}

HistogramBase* HistogramFactory::BuildAndRegister() {
  const BucketRanges* ranges =
      HistogramRegistry::RegisterOrDeleteDuplicateRanges(CreateRanges());
  PersistentHistogramAllocator* allocator =
      PersistentHistogramAllocator::GetGlobal();
  PersistentMemoryAllocator::Reference record = 0;
  std::unique_ptr<HistogramBase> built;
  if (allocator) {
    built = allocator->AllocateHistogram(type_, name_, minimum_, maximum_,
                                         ranges, flags_, &record);
  }
  if (!built) {
    built = HeapAlloc(ranges);
    built->SetFlags(flags_ & ~HistogramBase::Persistent);
  }
  FillHistogram(built.get());
  const HistogramBase* candidate = built.get();
  HistogramBase* registered =
      HistogramRegistry::RegisterOrDeleteDuplicate(std::move(built));
  if (record)
    allocator->FinishHistogram(record, registered == candidate);
  return registered;
}

HistogramBase* GetExponentialHistogram(StringSlice name, int32_t minimum,
                                       int32_t maximum, int32_t bucket_count,
                                       int32_t flags) {
  return ExponentialHistogramFactory(
             HISTOGRAM, name, ClampMinimum(minimum), ClampMaximum(maximum),
             static_cast<uint32_t>(std::max(ClampBucketCount(bucket_count), 0)),
             flags)
      .Build();
}

HistogramBase* GetCountsHistogram(StringSlice name, int32_t maximum) {
  return ExponentialHistogramFactory(HISTOGRAM, name, 1, ClampMaximum(maximum),
                                     kDefaultBuckets,
                                     HistogramBase::MetricsTargeted)
      .Build();
}

HistogramBase* GetTimeHistogram(StringSlice name, TimeDelta minimum,
                                TimeDelta maximum) {
  const int32_t minimum_ms =
      minimum.is_max() ? 1 : ClampMinimum(ClampedMilliseconds(minimum));
  return ExponentialHistogramFactory(HISTOGRAM, name, minimum_ms,
                                     ClampMaximum(ClampedMilliseconds(maximum)),
                                     kDefaultBuckets,
                                     HistogramBase::MetricsTargeted)
      .Build();
}

HistogramBase* GetLinearHistogram(StringSlice name, int32_t maximum,
                                  int32_t bucket_count) {
  return LinearHistogramFactory(
             name, 1, ClampMaximum(maximum),
             static_cast<uint32_t>(std::max(ClampBucketCount(bucket_count), 0)),
             HistogramBase::MetricsTargeted, nullptr)
      .Build();
}

}  // namespace base
