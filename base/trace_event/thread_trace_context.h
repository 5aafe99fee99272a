#ifndef BASE_TRACE_EVENT_THREAD_TRACE_CONTEXT_H_
#define BASE_TRACE_EVENT_THREAD_TRACE_CONTEXT_H_

#include <cstddef>

namespace base {

// A thread's stack of context names (source file names, the thread's
// interned name) for heap profiling. Used only while the process-wide
// context-capture mode is on.
class ThreadTraceContext {
 public:
  static constexpr size_t kMaxDepth = 16;

  // 0 (off) until tracing can turn capture on.
  static int capture_mode();

  // The calling thread's record; callers also accept null, which a record
  // still being made would give.
  static ThreadTraceContext* GetForCurrentThread();

  // A push beyond `kMaxDepth` entries keeps no entry but is still counted,
  // so that pushes and pops stay paired.
  void PushContext(const char* context);
  void PopContext();

 private:
  const char* stack_[kMaxDepth] = {};
  size_t depth_ = 0;
};

}  // namespace base

#endif  // BASE_TRACE_EVENT_THREAD_TRACE_CONTEXT_H_
