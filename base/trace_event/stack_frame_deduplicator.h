#ifndef BASE_TRACE_EVENT_STACK_FRAME_DEDUPLICATOR_H_
#define BASE_TRACE_EVENT_STACK_FRAME_DEDUPLICATOR_H_

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "base/trace_event/convertable_to_trace_format.h"

namespace base {

// Keeps the backtraces of a heap profile as a tree of frames, each node with
// a small index, and writes the nodes as a JSON object from index to frame.
class StackFrameDeduplicator : public ConvertableToTraceFormat {
 public:
  enum class FrameKind : int {
    kTraceEventName = 0,  // a static string
    kThreadName = 1,
    kProgramCounter = 2,
  };

  struct StackFrame {
    static StackFrame FromTraceEventName(const char* name) {
      return {FrameKind::kTraceEventName, name};
    }
    static StackFrame FromThreadName(const char* name) {
      return {FrameKind::kThreadName, name};
    }
    static StackFrame FromProgramCounter(const void* pc) {
      return {FrameKind::kProgramCounter, pc};
    }
    bool operator<(const StackFrame& other) const {
      return kind != other.kind ? kind < other.kind : value < other.value;
    }

    FrameKind kind;
    const void* value;
  };

  struct FrameNode {
    StackFrame frame;
    // -1 for a root.
    int32_t parent_frame_index;
    std::map<StackFrame, int> children;
  };

  StackFrameDeduplicator();
  ~StackFrameDeduplicator() override;

  // Adds a backtrace, outermost frame first, and returns the index of its
  // innermost frame's node; -1 for an empty one.
  int Insert(const StackFrame* begin, const StackFrame* end);
  const std::vector<FrameNode>& nodes() const { return frames_; }

  // {"<index>":{"name":...,"parent":"<index>"},...}; roots have no parent.
  void AppendAsTraceFormat(std::string* out) const override;
  void EstimateTraceMemoryOverhead(TraceEventMemoryOverhead* overhead) override;

 private:
  std::map<StackFrame, int> roots_;
  std::vector<FrameNode> frames_;
};

}  // namespace base

#endif  // BASE_TRACE_EVENT_STACK_FRAME_DEDUPLICATOR_H_
