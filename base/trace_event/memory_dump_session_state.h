#ifndef BASE_TRACE_EVENT_MEMORY_DUMP_SESSION_STATE_H_
#define BASE_TRACE_EVENT_MEMORY_DUMP_SESSION_STATE_H_

#include <cstdint>
#include <memory>
#include <set>

#include "base/ref_counted.h"
#include "base/trace_event/stack_frame_deduplicator.h"
#include "base/trace_event/type_name_deduplicator.h"

namespace base {

// What the memory dumps of one tracing session share: the levels of detail
// the trace configuration allows and, while heap profiling, the tables that
// the heap dumps' frames and type names are written through.
class MemoryDumpSessionState : public RefCounted<MemoryDumpSessionState> {
 public:
  MemoryDumpSessionState(std::set<int> allowed_dump_levels,
                         uint32_t heap_breakdown_threshold_bytes);

  void CreateDeduplicators();
  // Null without heap profiling.
  StackFrameDeduplicator* stack_frame_deduplicator() const {
    return stack_frame_deduplicator_.get();
  }
  TypeNameDeduplicator* type_name_deduplicator() const {
    return type_name_deduplicator_.get();
  }

  bool IsDumpModeAllowed(int level_of_detail) const;
  uint32_t heap_breakdown_threshold_bytes() const {
    return heap_breakdown_threshold_bytes_;
  }

 private:
  friend class RefCounted<MemoryDumpSessionState>;
  ~MemoryDumpSessionState();

  std::unique_ptr<StackFrameDeduplicator> stack_frame_deduplicator_;
  std::unique_ptr<TypeNameDeduplicator> type_name_deduplicator_;
  const std::set<int> allowed_dump_levels_;
  const uint32_t heap_breakdown_threshold_bytes_;
};

}  // namespace base

#endif  // BASE_TRACE_EVENT_MEMORY_DUMP_SESSION_STATE_H_
