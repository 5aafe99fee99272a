#ifndef BASE_METRICS_THREAD_HEAP_USAGE_H_
#define BASE_METRICS_THREAD_HEAP_USAGE_H_

#include <cstdint>

#include "base/allocator/allocator_dispatch.h"

namespace base {

// What one thread allocated and freed since its record was last zeroed, as
// counted by the heap-usage table at the head of the allocation chain. Sizes
// are the allocator's usable sizes where it tells them.
struct ThreadHeapUsage {
  uint64_t alloc_ops = 0;
  uint64_t alloc_bytes = 0;
  // Usable size minus requested size, summed.
  uint64_t alloc_overhead_bytes = 0;
  uint64_t free_ops = 0;
  uint64_t free_bytes = 0;
  // The largest `alloc_bytes - free_bytes` seen while it was positive.
  uint64_t max_allocated_bytes = 0;
};

// Puts the counting table at the head of the allocation chain; once per
// process (a second call ends it). Only the memory-dump manager does this,
// when heap profiling asks for task usage.
void InsertHeapUsageHooks();

// Whether the table is in the chain; task stopwatches measure heap usage
// only then.
bool HeapUsageHooksInserted();

// The calling thread's record, made on first use; null while it is being
// made, after the thread's end has destroyed it, or before the hooks exist.
ThreadHeapUsage* GetThreadHeapUsage();

// A copy of the counting table for a test to chain in front of a table of
// its own and call directly, leaving the process's chain alone. Prepares the
// thread records as insertion does.
AllocatorDispatch GetHeapUsageDispatchForTesting();

}  // namespace base

#endif  // BASE_METRICS_THREAD_HEAP_USAGE_H_
