#include "base/metrics/thread_heap_usage.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>

#include "base/allocator/allocator_shim.h"
#include "base/metrics/heap_usage_scope.h"
#include "base/metrics/task_stopwatch.h"
#include "base/metrics/thread_tally.h"
#include "gtest/gtest.h"

namespace base {
namespace {

// The allocator behind the counting table in most tests: the default table,
// but with a size estimate the test sets. (Wine's heap reports sizes as
// asked, so rounding can only be shown this way.)
struct EstimatingTable {
  static size_t SizeEstimate(const AllocatorDispatch* self, void* address,
                             void* context) {
    if (!address)
      return 0;
    return estimate;
  }
  static inline size_t estimate = 0;
};

// counting table -> estimating table -> default table, called directly: the
// process's own chain stays as it is.
class DirectChain {
 public:
  DirectChain() : hooks_(GetHeapUsageDispatchForTesting()) {
    estimating_ = *GetDefaultAllocatorDispatch();
    estimating_.get_size_estimate_function = &EstimatingTable::SizeEstimate;
    estimating_.next = GetDefaultAllocatorDispatch();
    hooks_.next = &estimating_;
  }

  void* Alloc(size_t size) {
    return hooks_.alloc_function(&hooks_, size, nullptr);
  }
  void* Realloc(void* address, size_t size) {
    return hooks_.realloc_function(&hooks_, address, size, nullptr);
  }
  void Free(void* address) { hooks_.free_function(&hooks_, address, nullptr); }
  void FreeDefiniteSize(void* address, size_t size) {
    hooks_.free_definite_size_function(&hooks_, address, size, nullptr);
  }
  void BatchFree(void** addresses, unsigned count) {
    hooks_.batch_free_function(&hooks_, addresses, count, nullptr);
  }

 private:
  AllocatorDispatch hooks_;
  AllocatorDispatch estimating_;
};

// The thread's usage inside `body`, measured exclusively.
ThreadHeapUsage Measure(const std::function<void()>& body) {
  HeapUsageScope scope;
  scope.Start();
  EXPECT_TRUE(scope.IsMeasuring());
  body();
  scope.Stop(true);
  return scope.usage();
}

struct UsageCase {
  const char* what;
  size_t estimate;
  // Runs between the scope's start and stop. `before` was allocated before
  // the scope (with the same estimate); a body that releases it sets it to
  // null.
  void (*body)(DirectChain& chain, void*& before);
  // Allocations, bytes, overhead, frees, bytes, peak.
  ThreadHeapUsage expected;
};

TEST(ThreadHeapUsageTest, HooksCountEachOperation) {
  const UsageCase cases[] = {
      {"100 bytes rounded to 112",
       112,
       [](DirectChain& c, void*&) { c.Free(c.Alloc(100)); },
       {1, 112, 12, 1, 112, 112}},
      {"no size from the allocator: the request counts",
       0,
       [](DirectChain& c, void*&) { c.Free(c.Alloc(100)); },
       {1, 100, 0, 1, 0, 0}},
      {"realloc of null: one allocation, no free",
       64,
       [](DirectChain& c, void*&) { c.Free(c.Realloc(nullptr, 50)); },
       {1, 64, 14, 1, 64, 64}},
      {"realloc to 0: one free, no allocation",
       64,
       [](DirectChain& c, void*& before) {
         EXPECT_EQ(nullptr, c.Realloc(before, 0));
         before = nullptr;
       },
       {0, 0, 0, 1, 64, 0}},
      {"an allocation after a larger free makes no peak",
       64,
       [](DirectChain& c, void*& before) {
         c.Free(before);
         before = nullptr;
         EstimatingTable::estimate = 16;
         c.Free(c.Alloc(8));
       },
       {1, 16, 8, 2, 80, 0}},
      {"free with a known size",
       48,
       [](DirectChain& c, void*& before) {
         c.FreeDefiniteSize(before, 40);
         before = nullptr;
       },
       {0, 0, 0, 1, 48, 0}},
      {"batch free without a batch entry below",
       16,
       [](DirectChain& c, void*& before) {
         void* blocks[] = {before, nullptr, c.Alloc(8)};
         c.BatchFree(blocks, 3);
         before = nullptr;
       },
       {1, 16, 8, 2, 32, 16}},
  };
  for (const UsageCase& c : cases) {
    EstimatingTable::estimate = c.estimate;
    DirectChain chain;
    void* before = chain.Alloc(40);
    ThreadHeapUsage usage = Measure([&] { c.body(chain, before); });
    chain.Free(before);
    EXPECT_EQ(c.expected.alloc_ops, usage.alloc_ops) << c.what;
    EXPECT_EQ(c.expected.alloc_bytes, usage.alloc_bytes) << c.what;
    EXPECT_EQ(c.expected.alloc_overhead_bytes, usage.alloc_overhead_bytes)
        << c.what;
    EXPECT_EQ(c.expected.free_ops, usage.free_ops) << c.what;
    EXPECT_EQ(c.expected.free_bytes, usage.free_bytes) << c.what;
    EXPECT_EQ(c.expected.max_allocated_bytes, usage.max_allocated_bytes)
        << c.what;
  }
}

TEST(ThreadHeapUsageTest, ExclusiveScopeLeavesEnclosingCountersAlone) {
  EstimatingTable::estimate = 32;
  DirectChain chain;
  HeapUsageScope outer;
  outer.Start();
  void* kept = chain.Alloc(32);
  Measure([&] { chain.Free(chain.Alloc(1000)); });
  chain.Free(kept);
  outer.Stop(true);
  EXPECT_EQ(1u, outer.usage().alloc_ops);
  EXPECT_EQ(32u, outer.usage().alloc_bytes);
  EXPECT_EQ(1u, outer.usage().free_ops);
  EXPECT_EQ(32u, outer.usage().max_allocated_bytes);
}

TEST(ThreadHeapUsageTest, InclusiveScopeAddsItsPeakOnTopOfTheOuterOne) {
  struct Case {
    const char* what;
    bool outer_frees_first;
    uint64_t expected_peak;
  } cases[] = {
      // Outer holds 32 when the inner one peaks at 64: 96.
      {"outer holds a block", false, 96},
      // Outer is 32 below zero when the inner one peaks at 64: 32, never a
      // wrapped difference.
      {"outer freed more than it allocated", true, 32},
  };
  for (const Case& c : cases) {
    EstimatingTable::estimate = 32;
    DirectChain chain;
    void* before = chain.Alloc(32);
    HeapUsageScope outer;
    outer.Start();
    void* held = nullptr;
    if (c.outer_frees_first)
      chain.Free(before);
    else
      held = chain.Alloc(32);
    {
      HeapUsageScope inner;
      inner.Start();
      void* a = chain.Alloc(32);
      void* b = chain.Alloc(32);
      chain.Free(a);
      chain.Free(b);
      inner.Stop(false);
      EXPECT_EQ(64u, inner.usage().max_allocated_bytes) << c.what;
    }
    outer.Stop(true);
    EXPECT_EQ(c.expected_peak, outer.usage().max_allocated_bytes) << c.what;
    EXPECT_EQ(3u - (c.outer_frees_first ? 1 : 0), outer.usage().alloc_ops)
        << c.what;
    chain.Free(held);
    if (!c.outer_frees_first)
      chain.Free(before);
  }
}

// Set by a thread that wants its allocations after its end looked at; read
// by the callback below, which the loader runs after the counting table's
// own thread-end callback.
constinit std::atomic<DWORD> g_watched_thread{0};
constinit std::atomic<int> g_after_end_result{-1};

void NTAPI AfterRecordDestroyed(PVOID, DWORD reason, PVOID) {
  if (reason != DLL_THREAD_DETACH ||
      g_watched_thread.load() != GetCurrentThreadId()) {
    return;
  }
  AllocatorFree(AllocatorNew(64));
  g_after_end_result = GetThreadHeapUsage() == nullptr ? 1 : 0;
}

extern "C" {
__attribute__((used, section(".CRT$XLXZ")))
PIMAGE_TLS_CALLBACK diagnostics_test_after_heap_usage_exit =
    AfterRecordDestroyed;
}

// The only test that puts the table into the process's chain: it stays
// there for the rest of the run.
TEST(ThreadHeapUsageTest, RealChainCountsAndMarkersKeepTheRecordOut) {
  if (!HeapUsageHooksInserted())
    InsertHeapUsageHooks();
  ASSERT_TRUE(HeapUsageHooksInserted());

  ThreadHeapUsage first_use;
  size_t usable = 0;
  std::thread([&] {
    // The record is made inside this allocation, and its own allocation
    // passes through the table while marked: only the 100 bytes count.
    void* block = AllocatorNew(100);
    ThreadHeapUsage* record = GetThreadHeapUsage();
    ASSERT_NE(nullptr, record);
    first_use = *record;
    usable = GetDefaultAllocatorDispatch()->get_size_estimate_function(
        GetDefaultAllocatorDispatch(), block, nullptr);
    AllocatorFree(block);
    g_watched_thread = GetCurrentThreadId();
  }).join();
  EXPECT_EQ(1u, first_use.alloc_ops);
  EXPECT_EQ(usable, first_use.alloc_bytes);
  EXPECT_EQ(usable - 100, first_use.alloc_overhead_bytes);
  // After the thread's end destroyed the record, nothing made a new one.
  EXPECT_EQ(1, g_after_end_result.load());

  // A task stopwatch measures what its task allocated.
  InitThreadTally("DiagnosticsTest");
  ThreadTally* tally = GetOrCreateThreadTally();
  TaskBirth* birth = RegisterTaskBirth(tally, FROM_HERE);
  TaskDeathData before;
  tally->GetDeathData(birth, &before);
  TaskStopwatch stopwatch;
  ASSERT_TRUE(stopwatch.measured_heap_usage());
  stopwatch.Start();
  void* block = AllocatorNew(200);
  stopwatch.Stop();
  AllocatorFree(block);
  TallyTaskDeath(tally, birth, 0, stopwatch);
  TaskDeathData after;
  ASSERT_TRUE(tally->GetDeathData(birth, &after));
  EXPECT_EQ(1, after.alloc_ops - before.alloc_ops);
  EXPECT_EQ(0, after.free_ops - before.free_ops);
  EXPECT_GE(after.allocated_bytes - before.allocated_bytes, 200);
}

}  // namespace
}  // namespace base
