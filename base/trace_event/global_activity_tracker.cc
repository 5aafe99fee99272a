#include "base/trace_event/global_activity_tracker.h"

#include <cstring>

#include "base/lazy_global.h"
#include "base/metrics/histogram.h"
#include "base/trace_event/activity_scope.h"
#include "base/trace_event/activity_tracker.h"

namespace base {

namespace {

using Reference = PersistentMemoryAllocator::Reference;

constexpr size_t kMostCachedTrackerMemory = 16;

std::atomic<GlobalActivityTracker*> g_tracker{nullptr};

// Trackers made for tests outlive their installation: threads keep
// pointers to their own trackers in them.
constinit LazyGlobalInstance<
    std::vector<std::unique_ptr<GlobalActivityTracker>>>
    g_kept_trackers(LazyGlobalLifetime::kLeaky);
constinit LazyGlobalInstance<Lock> g_kept_trackers_lock(
    LazyGlobalLifetime::kLeaky);

HistogramBase* CachedHistogram(std::atomic<HistogramBase*>* cache,
                               HistogramBase* (*make)()) {
  HistogramBase* histogram = cache->load(std::memory_order_acquire);
  if (!histogram) {
    histogram = make();
    cache->store(histogram, std::memory_order_release);
  }
  return histogram;
}

void RecordThreadTrackerCount(int count) {
  static std::atomic<HistogramBase*> cache{nullptr};
  if (HistogramBase* histogram = CachedHistogram(&cache, [] {
        return GetLinearHistogram("ActivityTracker.ThreadTrackers.Count", 100,
                                  101);
      })) {
    histogram->Add(count);
  }
}

void RecordMemoryLimitTrackerCount(int count) {
  static std::atomic<HistogramBase*> cache{nullptr};
  if (HistogramBase* histogram = CachedHistogram(&cache, [] {
        return GetCountsHistogram(
            "ActivityTracker.ThreadTrackers.MemLimitTrackerCount", 1000);
      })) {
    histogram->Add(count);
  }
}

}  // namespace

// A thread's tracker over memory taken from the segment, which it gives back
// when its thread ends.
class GlobalActivityTracker::ThreadTracker : public ActivityTracker {
 public:
  ThreadTracker(GlobalActivityTracker* owner, Reference memory, void* base,
                size_t size)
      : ActivityTracker(base, size), owner_(owner), memory_(memory) {}
  ~ThreadTracker() override { owner_->ReturnTrackerMemory(memory_); }

 private:
  GlobalActivityTracker* const owner_;
  const Reference memory_;
};

GlobalActivityTracker* GetGlobalActivityTracker() {
  return g_tracker.load(std::memory_order_acquire);
}

void RecordLogMessageForActivityTracker(GlobalActivityTracker* tracker,
                                        StringSlice text) {
  tracker->RecordLogMessage(text);
}

// static
GlobalActivityTracker* GlobalActivityTracker::Get() {
  return GetGlobalActivityTracker();
}

// static
GlobalActivityTracker* GlobalActivityTracker::CreateForTesting(
    std::unique_ptr<PersistentMemoryAllocator> allocator,
    uint32_t thread_memory_size) {
  std::unique_ptr<GlobalActivityTracker> tracker(
      new GlobalActivityTracker(std::move(allocator), thread_memory_size));
  GlobalActivityTracker* installed = tracker.get();
  {
    AutoLock hold(*g_kept_trackers_lock.Get());
    g_kept_trackers.Get()->push_back(std::move(tracker));
  }
  g_tracker.store(installed, std::memory_order_release);
  return installed;
}

// static
void GlobalActivityTracker::ReleaseForTesting() {
  GlobalActivityTracker* tracker = Get();
  if (!tracker)
    return;
  auto* own = static_cast<ThreadTracker*>(tracker->this_thread_tracker_.Get());
  tracker->this_thread_tracker_.Set(nullptr);
  g_tracker.store(nullptr, std::memory_order_release);
  std::unique_ptr<ThreadTracker> given_back(own);
}

GlobalActivityTracker::GlobalActivityTracker(
    std::unique_ptr<PersistentMemoryAllocator> allocator,
    uint32_t thread_memory_size)
    : allocator_(std::move(allocator)),
      thread_memory_size_(thread_memory_size) {
  this_thread_tracker_.Initialize(&OnThreadExit);
}

GlobalActivityTracker::~GlobalActivityTracker() = default;

ActivityTracker* GlobalActivityTracker::GetTrackerForCurrentThread() {
  return static_cast<ThreadTracker*>(this_thread_tracker_.Get());
}

ActivityTracker* GlobalActivityTracker::GetOrCreateTrackerForCurrentThread() {
  if (ActivityTracker* tracker = GetTrackerForCurrentThread())
    return tracker;
  Reference memory = 0;
  {
    AutoLock hold(lock_);
    memory = TakeTrackerMemoryLocked();
  }
  void* base = allocator_->GetBlockData(memory, kTypeIdActivityTracker,
                                        thread_memory_size_);
  if (!base || thread_memory_size_ < ActivityTracker::kSmallestMemory) {
    RecordMemoryLimitTrackerCount(thread_tracker_count());
    return nullptr;
  }
  auto tracker =
      std::make_unique<ThreadTracker>(this, memory, base, thread_memory_size_);
  const int count =
      thread_tracker_count_.fetch_add(1, std::memory_order_relaxed) + 1;
  // Memory left by someone else: destroying the tracker clears it for reuse.
  if (!tracker->IsValid())
    return nullptr;
  this_thread_tracker_.Set(tracker.get());
  RecordThreadTrackerCount(count);
  return tracker.release();
}

Reference GlobalActivityTracker::TakeTrackerMemoryLocked() {
  while (!free_memory_.empty()) {
    const Reference memory = free_memory_.back();
    free_memory_.pop_back();
    if (allocator_->ChangeType(memory, kTypeIdActivityTracker,
                               kTypeIdActivityTrackerFree, false)) {
      return memory;
    }
  }
  PersistentMemoryAllocator::Iterator blocks(allocator_.get());
  while (const Reference memory =
             blocks.GetNextOfType(kTypeIdActivityTrackerFree)) {
    if (allocator_->ChangeType(memory, kTypeIdActivityTracker,
                               kTypeIdActivityTrackerFree, false)) {
      return memory;
    }
  }
  const Reference memory =
      allocator_->Allocate(thread_memory_size_, kTypeIdActivityTracker);
  if (memory)
    allocator_->MakeIterable(memory);
  return memory;
}

void GlobalActivityTracker::ReturnTrackerMemory(Reference memory) {
  AutoLock hold(lock_);
  thread_tracker_count_.fetch_sub(1, std::memory_order_relaxed);
  allocator_->ChangeType(memory, kTypeIdActivityTrackerFree,
                         kTypeIdActivityTracker, true);
  if (free_memory_.size() < kMostCachedTrackerMemory)
    free_memory_.push_back(memory);
}

// static
void GlobalActivityTracker::OnThreadExit(void* tracker) {
  std::unique_ptr<ThreadTracker> ended(static_cast<ThreadTracker*>(tracker));
}

void GlobalActivityTracker::RecordLogMessage(StringSlice message) {
  const Reference ref = allocator_->Allocate(
      static_cast<uint32_t>(message.size() + 1), kTypeIdLogMessage);
  auto* text = static_cast<char*>(allocator_->GetBlockData(
      ref, kTypeIdLogMessage, static_cast<uint32_t>(message.size() + 1)));
  if (!text)
    return;
  memcpy(text, message.data(), message.size());
  text[message.size()] = '\0';
  allocator_->MakeIterable(ref);
}

}  // namespace base
