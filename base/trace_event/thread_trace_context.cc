#include "base/trace_event/thread_trace_context.h"

namespace base {

namespace {

// Constant-initialised and trivially destroyed: nothing runs per thread.
constinit thread_local ThreadTraceContext t_context;

}  // namespace

int ThreadTraceContext::capture_mode() {
  return 0;
}

ThreadTraceContext* ThreadTraceContext::GetForCurrentThread() {
  return &t_context;
}

void ThreadTraceContext::PushContext(const char* context) {
  if (depth_ < kMaxDepth)
    stack_[depth_] = context;
  ++depth_;
}

void ThreadTraceContext::PopContext() {
  if (depth_ > 0)
    --depth_;
}

}  // namespace base
