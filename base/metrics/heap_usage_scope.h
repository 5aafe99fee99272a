#ifndef BASE_METRICS_HEAP_USAGE_SCOPE_H_
#define BASE_METRICS_HEAP_USAGE_SCOPE_H_

#include "base/metrics/thread_heap_usage.h"

namespace base {

// Measures what the calling thread allocates between `Start` and `Stop`, by
// zeroing the thread's record for the scope and putting the enclosing
// scope's counters back at the end. Scopes nest; each lives on the stack of
// one thread.
class HeapUsageScope {
 public:
  HeapUsageScope() = default;
  HeapUsageScope(const HeapUsageScope&) = delete;
  HeapUsageScope& operator=(const HeapUsageScope&) = delete;
  // A scope still measuring stops, its usage added to the enclosing one.
  ~HeapUsageScope();

  // Does nothing while the thread has no record (no hooks, or the thread is
  // making or has destroyed its record).
  void Start();
  // `usage_is_exclusive`: the enclosing measurement does not see this
  // scope's usage; otherwise it is added to it.
  void Stop(bool usage_is_exclusive);

  bool IsMeasuring() const { return thread_usage_ != nullptr; }
  // After `Stop`: what the thread allocated and freed inside the scope.
  const ThreadHeapUsage& usage() const { return usage_; }

 private:
  // The thread's record while measuring, else null.
  ThreadHeapUsage* thread_usage_ = nullptr;
  // The enclosing counters while measuring; this scope's usage after.
  ThreadHeapUsage usage_;
};

}  // namespace base

#endif  // BASE_METRICS_HEAP_USAGE_SCOPE_H_
