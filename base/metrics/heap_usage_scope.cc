#include "base/metrics/heap_usage_scope.h"

namespace base {

namespace {

// The enclosing counters with `inner` added, as if the enclosing scope had
// seen the inner one's allocations itself.
ThreadHeapUsage Merge(const ThreadHeapUsage& outer,
                      const ThreadHeapUsage& inner) {
  ThreadHeapUsage merged = outer;
  merged.alloc_ops += inner.alloc_ops;
  merged.alloc_bytes += inner.alloc_bytes;
  merged.alloc_overhead_bytes += inner.alloc_overhead_bytes;
  merged.free_ops += inner.free_ops;
  merged.free_bytes += inner.free_bytes;
  if (inner.max_allocated_bytes != 0) {
    // The outer scope may have freed more than it allocated when the inner
    // one began: signed, or the difference wraps to a huge peak.
    const int64_t outer_net =
        static_cast<int64_t>(outer.alloc_bytes - outer.free_bytes);
    const int64_t inner_peak =
        outer_net + static_cast<int64_t>(inner.max_allocated_bytes);
    if (inner_peak > 0 &&
        static_cast<uint64_t>(inner_peak) > outer.max_allocated_bytes) {
      merged.max_allocated_bytes = static_cast<uint64_t>(inner_peak);
    }
  }
  return merged;
}

}  // namespace

HeapUsageScope::~HeapUsageScope() {
  if (IsMeasuring())
    Stop(false);
}

void HeapUsageScope::Start() {
  thread_usage_ = GetThreadHeapUsage();
  if (!thread_usage_)
    return;
  usage_ = *thread_usage_;
  *thread_usage_ = ThreadHeapUsage();
}

void HeapUsageScope::Stop(bool usage_is_exclusive) {
  if (!thread_usage_)
    return;
  const ThreadHeapUsage own = *thread_usage_;
  *thread_usage_ = usage_is_exclusive ? usage_ : Merge(usage_, own);
  usage_ = own;
  thread_usage_ = nullptr;
}

}  // namespace base
