#include "base/trace_event/heap_profiler_event_filter.h"

#include "base/trace_event/thread_trace_context.h"
#include "base/trace_event/trace_event.h"

namespace base {

namespace {

ThreadTraceContext* PseudoStackContext() {
  if (ThreadTraceContext::capture_mode() !=
      ThreadTraceContext::kCapturePseudoStack) {
    return nullptr;
  }
  return ThreadTraceContext::GetForCurrentThread();
}

}  // namespace

HeapProfilerEventFilter::HeapProfilerEventFilter() = default;
HeapProfilerEventFilter::~HeapProfilerEventFilter() = default;

bool HeapProfilerEventFilter::FilterTraceEvent(const TraceEvent& event) const {
  // A copied name lives in the event's record, which may go before the
  // frame does.
  if (event.flags() & kTraceFlagCopy)
    return true;
  ThreadTraceContext* context = PseudoStackContext();
  if (!context)
    return true;
  switch (event.phase()) {
    case kTracePhaseBegin:
    case kTracePhaseComplete:
      context->PushFrame({event.category_group_name(), event.name()});
      break;
    case kTracePhaseEnd:
      context->PopFrame();
      break;
    default:
      break;
  }
  return true;
}

void HeapProfilerEventFilter::EndEvent(const char*,
                                       const char* event_name) const {
  ThreadTraceContext* context = PseudoStackContext();
  if (!context)
    return;
  // A copied event pushed no frame, so its end must not pop the frame of
  // the event around it. Frames carry the call site's own name pointer.
  const auto& stack = context->pseudo_stack();
  if (context->frames_dropped() > 0 ||
      (!stack.empty() && stack.back().name == event_name)) {
    context->PopFrame();
  }
}

}  // namespace base
