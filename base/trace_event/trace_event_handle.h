#ifndef BASE_TRACE_EVENT_TRACE_EVENT_HANDLE_H_
#define BASE_TRACE_EVENT_TRACE_EVENT_HANDLE_H_

#include <cstdint>

namespace base {

// Names one event slot of a trace buffer: the chunk's sequence number in the
// low 32 bits (0 is no event), then a word holding the chunk's index in its
// low 26 bits and the event's index in the chunk in its high 6.
using TraceEventHandle = uint64_t;

inline constexpr uint32_t kTraceEventHandleChunkIndexBits = 26;
inline constexpr uint32_t kTraceEventHandleMaxChunkIndex =
    (1u << kTraceEventHandleChunkIndexBits) - 1;

constexpr TraceEventHandle MakeTraceEventHandle(uint32_t chunk_seq,
                                                uint32_t chunk_index,
                                                uint32_t event_index) {
  const uint32_t index_word = (chunk_index & kTraceEventHandleMaxChunkIndex) |
                              (event_index << kTraceEventHandleChunkIndexBits);
  return chunk_seq | (static_cast<uint64_t>(index_word) << 32);
}

constexpr uint32_t TraceEventHandleChunkSeq(TraceEventHandle handle) {
  return static_cast<uint32_t>(handle);
}

constexpr uint32_t TraceEventHandleChunkIndex(TraceEventHandle handle) {
  return static_cast<uint32_t>(handle >> 32) & kTraceEventHandleMaxChunkIndex;
}

constexpr uint32_t TraceEventHandleEventIndex(TraceEventHandle handle) {
  return static_cast<uint32_t>(handle >>
                               (32 + kTraceEventHandleChunkIndexBits));
}

}  // namespace base

#endif  // BASE_TRACE_EVENT_TRACE_EVENT_HANDLE_H_
