#ifndef BASE_TRACE_EVENT_TRACE_BUFFER_CHUNK_H_
#define BASE_TRACE_EVENT_TRACE_BUFFER_CHUNK_H_

#include <cstddef>
#include <cstdint>
#include <memory>

#include "base/trace_event/trace_event.h"

namespace base {

class TraceEventMemoryOverhead;

// 64 event records that a trace buffer hands out as one piece, so that a
// recording thread takes slots without the trace log's lock.
class TraceBufferChunk {
 public:
  static constexpr size_t kTraceBufferChunkSize = 64;

  // `seq` is non-zero: handles to the chunk's events carry it.
  explicit TraceBufferChunk(uint32_t seq);
  TraceBufferChunk(const TraceBufferChunk&) = delete;
  TraceBufferChunk& operator=(const TraceBufferChunk&) = delete;
  ~TraceBufferChunk();

  // Empties the used slots for reuse under a new sequence number.
  void Reset(uint32_t new_seq);
  // The next free slot and its index; null when full.
  TraceEvent* AddTraceEvent(size_t* event_index);
  bool IsFull() const { return used_ == kTraceBufferChunkSize; }
  size_t size() const { return used_; }
  uint32_t seq() const { return seq_; }
  TraceEvent* GetEventAt(size_t index) { return &events_[index]; }
  const TraceEvent* GetEventAt(size_t index) const { return &events_[index]; }

  // Events added since the last estimate are estimated into a tally the
  // chunk keeps, which is then added to `overhead`.
  void EstimateTraceMemoryOverhead(TraceEventMemoryOverhead* overhead);

 private:
  size_t used_ = 0;
  std::unique_ptr<TraceEventMemoryOverhead> cached_overhead_estimate_;
  TraceEvent events_[kTraceBufferChunkSize];
  uint32_t seq_;
};

}  // namespace base

#endif  // BASE_TRACE_EVENT_TRACE_BUFFER_CHUNK_H_
