#include "base/debug/stack_trace.h"

#include <windows.h>

#include <algorithm>

namespace base {

// static
StackTrace* StackTrace::Capture(StackTrace* trace, size_t count) {
  const DWORD wanted = static_cast<DWORD>(std::min(count, kMaxFrames));
  trace->count_ = RtlCaptureStackBackTrace(
      0, wanted, const_cast<void**>(trace->frames_), nullptr);
  return trace;
}

}  // namespace base
