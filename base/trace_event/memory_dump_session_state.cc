#include "base/trace_event/memory_dump_session_state.h"

#include <utility>

namespace base {

MemoryDumpSessionState::MemoryDumpSessionState(
    std::set<int> allowed_dump_levels, uint32_t heap_breakdown_threshold_bytes)
    : allowed_dump_levels_(std::move(allowed_dump_levels)),
      heap_breakdown_threshold_bytes_(heap_breakdown_threshold_bytes) {}

MemoryDumpSessionState::~MemoryDumpSessionState() = default;

void MemoryDumpSessionState::CreateDeduplicators() {
  stack_frame_deduplicator_ = std::make_unique<StackFrameDeduplicator>();
  type_name_deduplicator_ = std::make_unique<TypeNameDeduplicator>();
}

bool MemoryDumpSessionState::IsDumpModeAllowed(int level_of_detail) const {
  return allowed_dump_levels_.count(level_of_detail) != 0;
}

}  // namespace base
