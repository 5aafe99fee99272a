#include "base/trace_event/stack_frame_deduplicator.h"

#include "base/strings/string_format.h"
#include "base/trace_event/trace_event_memory_overhead.h"
#include "base/trace_event/traced_value.h"

namespace base {

namespace {

constexpr size_t kMapEntryBytes = 56;
constexpr size_t kNodeBytes = 40;
constexpr size_t kOwnBytes = 48;

std::string FrameName(const StackFrameDeduplicator::StackFrame& frame) {
  using FrameKind = StackFrameDeduplicator::FrameKind;
  switch (frame.kind) {
    case FrameKind::kTraceEventName:
      return static_cast<const char*>(frame.value);
    case FrameKind::kThreadName:
      return FormatString("[Thread: %s]",
                          static_cast<const char*>(frame.value));
    case FrameKind::kProgramCounter:
      return FormatString("pc:%llx",
                          static_cast<unsigned long long>(
                              reinterpret_cast<uintptr_t>(frame.value)));
  }
  return std::string();
}

}  // namespace

StackFrameDeduplicator::StackFrameDeduplicator() = default;
StackFrameDeduplicator::~StackFrameDeduplicator() = default;

int StackFrameDeduplicator::Insert(const StackFrame* begin,
                                   const StackFrame* end) {
  int index = -1;
  // Where the next frame is looked up: the roots, then the children of the
  // node just found. Indices, not pointers: the node vector grows.
  for (const StackFrame* frame = begin; frame != end; ++frame) {
    std::map<StackFrame, int>& level =
        index < 0 ? roots_ : frames_[index].children;
    auto found = level.find(*frame);
    if (found != level.end()) {
      index = found->second;
      continue;
    }
    const int new_index = static_cast<int>(frames_.size());
    level.emplace(*frame, new_index);
    frames_.push_back(FrameNode{*frame, index, {}});
    index = new_index;
  }
  return index;
}

void StackFrameDeduplicator::AppendAsTraceFormat(std::string* out) const {
  out->append("{");
  for (size_t i = 0; i < frames_.size(); ++i) {
    if (i > 0)
      out->append(",");
    AppendFormat(out, "\"%d\":", static_cast<int>(i));
    TracedValue frame;
    frame.SetString("name", FrameName(frames_[i].frame));
    if (frames_[i].parent_frame_index >= 0)
      frame.SetString("parent",
                      FormatString("%d", frames_[i].parent_frame_index));
    frame.AppendAsTraceFormat(out);
  }
  out->append("}");
}

void StackFrameDeduplicator::EstimateTraceMemoryOverhead(
    TraceEventMemoryOverhead* overhead) {
  size_t bytes = kMapEntryBytes * roots_.size() +
                 kNodeBytes * frames_.capacity() + kOwnBytes;
  for (const FrameNode& node : frames_)
    bytes += kMapEntryBytes * node.children.size();
  overhead->Add(kOverheadStackFrameDeduplicator, 1, bytes, bytes);
}

}  // namespace base
