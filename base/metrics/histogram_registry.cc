#include "base/metrics/histogram_registry.h"

#include <atomic>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "base/lazy_global.h"
#include "base/metrics/bucket_ranges.h"
#include "base/metrics/persistent_histogram_allocator.h"
#include "base/threading/lock.h"

namespace base {

namespace {

// Shorter names first, then by bytes.
struct NameOrder {
  bool operator()(std::string_view a, std::string_view b) const {
    if (a.size() != b.size())
      return a.size() < b.size();
    return a < b;
  }
};

}  // namespace

struct HistogramRegistryMaps {
  // Keys view the histograms' own names.
  std::map<std::string_view, std::unique_ptr<HistogramBase>, NameOrder>
      histograms;
  std::map<uint32_t, std::vector<std::unique_ptr<BucketRanges>>> ranges;
  std::map<std::string, HistogramRegistry::SampleCallback, std::less<>>
      callbacks;
};

namespace {

// Made lazily, also while there are no maps, and never destroyed.
constinit LazyGlobalInstance<Lock> g_registry_lock(LazyGlobalLifetime::kLeaky);
// Null for the whole life of the process unless a test sets maps.
std::atomic<HistogramRegistryMaps*> g_maps{nullptr};

Lock& RegistryLock() {
  return *g_registry_lock.Get();
}

HistogramRegistryMaps* CurrentMaps() {
  return g_maps.load(std::memory_order_acquire);
}

std::string_view View(StringSlice name) {
  return std::string_view(name.data(), name.size());
}

}  // namespace

// static
HistogramBase* HistogramRegistry::RegisterOrDeleteDuplicate(
    std::unique_ptr<HistogramBase> histogram) {
  std::unique_ptr<HistogramBase> duplicate;
  HistogramBase* result = nullptr;
  {
    AutoLock hold(RegistryLock());
    HistogramRegistryMaps* maps = CurrentMaps();
    if (!maps) {
      // Nothing to keep it in: it lives for the process, as its caller keeps
      // the pointer.
      return histogram.release();
    }
    auto found = maps->histograms.find(histogram->histogram_name());
    if (found != maps->histograms.end()) {
      result = found->second.get();
      if (result != histogram.get())
        duplicate = std::move(histogram);
      else
        histogram.release();
    } else {
      result = histogram.get();
      if (maps->callbacks.count(result->histogram_name()))
        result->SetFlags(HistogramBase::CallbackExists);
      else
        result->ClearFlags(HistogramBase::CallbackExists);
      const std::string_view key = result->histogram_name();
      maps->histograms.emplace(key, std::move(histogram));
    }
  }
  // `duplicate` goes here, outside the lock.
  return result;
}

// static
const BucketRanges* HistogramRegistry::RegisterOrDeleteDuplicateRanges(
    std::unique_ptr<BucketRanges> ranges) {
  std::unique_ptr<BucketRanges> duplicate;
  const BucketRanges* result = nullptr;
  {
    AutoLock hold(RegistryLock());
    HistogramRegistryMaps* maps = CurrentMaps();
    if (!maps)
      return ranges.release();
    std::vector<std::unique_ptr<BucketRanges>>& list =
        maps->ranges[ranges->checksum()];
    for (const std::unique_ptr<BucketRanges>& registered : list) {
      if (registered->Equals(*ranges)) {
        result = registered.get();
        break;
      }
    }
    if (result) {
      duplicate = std::move(ranges);
    } else {
      result = ranges.get();
      list.push_back(std::move(ranges));
    }
  }
  return result;
}

// static
HistogramBase* HistogramRegistry::Find(StringSlice name) {
  if (CurrentMaps()) {
    if (PersistentHistogramAllocator* allocator =
            PersistentHistogramAllocator::GetGlobal()) {
      allocator->ImportHistograms();
    }
  }
  AutoLock hold(RegistryLock());
  HistogramRegistryMaps* maps = CurrentMaps();
  if (!maps)
    return nullptr;
  auto found = maps->histograms.find(View(name));
  return found == maps->histograms.end() ? nullptr : found->second.get();
}

// static
HistogramRegistry::SampleCallback HistogramRegistry::FindSampleCallback(
    StringSlice name) {
  AutoLock hold(RegistryLock());
  HistogramRegistryMaps* maps = CurrentMaps();
  if (!maps)
    return SampleCallback();
  auto found = maps->callbacks.find(View(name));
  return found == maps->callbacks.end() ? SampleCallback() : found->second;
}

namespace {

// Every set of test maps stays alive with what it registered.
constinit LazyGlobalInstance<
    std::vector<std::unique_ptr<HistogramRegistryMaps>>>
    g_kept_maps(LazyGlobalLifetime::kLeaky);

HistogramRegistryMaps* NewKeptMaps() {
  AutoLock hold(RegistryLock());
  auto* kept = g_kept_maps.Get();
  kept->push_back(std::make_unique<HistogramRegistryMaps>());
  return kept->back().get();
}

}  // namespace

HistogramRegistry::ScopedMapsForTesting::ScopedMapsForTesting(bool with_maps)
    : maps_(with_maps ? NewKeptMaps() : nullptr),
      previous_(g_maps.exchange(maps_, std::memory_order_acq_rel)) {}

HistogramRegistry::ScopedMapsForTesting::~ScopedMapsForTesting() {
  g_maps.store(previous_, std::memory_order_release);
}

void HistogramRegistry::ScopedMapsForTesting::SetCallback(
    StringSlice name, SampleCallback callback) {
  AutoLock hold(RegistryLock());
  maps_->callbacks[name.AsString()] = std::move(callback);
}

}  // namespace base
