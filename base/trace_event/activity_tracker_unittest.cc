#include "base/trace_event/activity_tracker.h"

#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "base/lazy_global.h"
#include "base/location.h"
#include "base/metrics/histogram.h"
#include "base/metrics/persistent_memory_allocator.h"
#include "base/posted_task.h"
#include "base/test/histogram_counts.h"
#include "base/trace_event/activity_scope.h"
#include "base/trace_event/global_activity_tracker.h"
#include "gtest/gtest.h"

namespace base {
namespace {

using Reference = PersistentMemoryAllocator::Reference;

// A thread's tracker may outlive its test until the thread is gone, and the
// main thread's until the process is: segments are never freed.
constinit LazyGlobalInstance<
    std::vector<std::unique_ptr<std::vector<uint64_t>>>>
    g_segments(LazyGlobalLifetime::kLeaky);

// Installs a global tracker over a new segment while it lives.
class ScopedGlobalTracker {
 public:
  ScopedGlobalTracker(uint32_t segment_size, uint32_t tracker_size) {
    auto* segments = g_segments.Get();
    segments->push_back(
        std::make_unique<std::vector<uint64_t>>(segment_size / 8));
    tracker_ = GlobalActivityTracker::CreateForTesting(
        PersistentMemoryAllocator::Create(segments->back()->data(),
                                          segment_size, segment_size, 3, false),
        tracker_size);
  }
  ~ScopedGlobalTracker() { GlobalActivityTracker::ReleaseForTesting(); }

  GlobalActivityTracker* get() const { return tracker_; }
  PersistentMemoryAllocator* allocator() const { return tracker_->allocator(); }

 private:
  GlobalActivityTracker* tracker_;
};

int BlocksOfType(PersistentMemoryAllocator* allocator, uint32_t type) {
  PersistentMemoryAllocator::Iterator iterator(allocator);
  int count = 0;
  while (iterator.GetNextOfType(type))
    ++count;
  return count;
}

void RunTask(int sequence_num) {
  PostedTask task(FROM_HERE, Closure(), TickTime(), true);
  task.sequence_num = sequence_num;
  TaskRunActivityScope run(FROM_HERE.program_counter(), task);
}

TEST(ActivityTrackerTest, ActivitiesBeyondTheSlotsAreCountedNotWritten) {
  ScopedGlobalTracker global(4096, ActivityTracker::kSmallestMemory);
  ActivityTracker* tracker = global.get()->GetOrCreateTrackerForCurrentThread();
  ASSERT_NE(nullptr, tracker);
  ASSERT_EQ(2u, tracker->slot_count());
  // The block right after the tracker's memory.
  const Reference canary = global.allocator()->Allocate(64, 0xCA);
  auto* canary_bytes =
      static_cast<uint8_t*>(global.allocator()->GetBlockData(canary, 0xCA, 64));
  ASSERT_NE(nullptr, canary_bytes);
  memset(canary_bytes, 0x5A, 64);
  {
    int locks[4] = {};
    LockAcquireActivityScope first(nullptr, &locks[0]);
    LockAcquireActivityScope second(nullptr, &locks[1]);
    LockAcquireActivityScope third(nullptr, &locks[2]);
    EventWaitActivityScope fourth(nullptr, &locks[3]);
    EXPECT_EQ(4u, tracker->depth());
  }
  EXPECT_EQ(0u, tracker->depth());
  EXPECT_EQ(64u, global.allocator()->GetAllocSize(canary));
  EXPECT_EQ(0xCAu, global.allocator()->GetType(canary));
  for (int i = 0; i < 64; ++i)
    EXPECT_EQ(0x5A, canary_bytes[i]) << i;
  EXPECT_FALSE(global.allocator()->IsCorrupt());
}

TEST(ActivityTrackerTest, EndedThreadsGiveTheirMemoryBack) {
  ScopedGlobalTracker global(16384, 1024);
  HistogramBase* counts =
      GetLinearHistogram("ActivityTracker.ThreadTrackers.Count", 100, 101);
  const HistogramBase::Count ones = CountOf(counts, 1);
  PersistentMemoryAllocator* allocator = global.allocator();
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    int live_while_running = 0;
    std::thread([&global, &live_while_running] {
      RunTask(5);
      live_while_running = global.get()->thread_tracker_count();
    }).join();
    EXPECT_EQ(1, live_while_running);
    EXPECT_EQ(0, global.get()->thread_tracker_count());
    // One block, made by the first thread and reused by the others.
    EXPECT_EQ(1,
              BlocksOfType(allocator,
                           GlobalActivityTracker::kTypeIdActivityTrackerFree));
    EXPECT_EQ(0, BlocksOfType(allocator,
                              GlobalActivityTracker::kTypeIdActivityTracker));
  }
  EXPECT_EQ(ones + 3, CountOf(counts, 1));
}

TEST(ActivityTrackerTest, ThreadsWithoutMemoryGoUntracked) {
  // Room for the segment header and no tracker.
  ScopedGlobalTracker global(1024, 1024);
  HistogramBase* limits = GetCountsHistogram(
      "ActivityTracker.ThreadTrackers.MemLimitTrackerCount", 1000);
  const HistogramBase::Count before = CountOf(limits, 0);
  bool tracked = true;
  std::thread([&global, &tracked] {
    RunTask(6);
    tracked = global.get()->GetTrackerForCurrentThread() != nullptr;
  }).join();
  EXPECT_FALSE(tracked);
  EXPECT_EQ(before + 1, CountOf(limits, 0));
}

}  // namespace
}  // namespace base
