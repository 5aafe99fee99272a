#ifndef BASE_TRACE_EVENT_TRACE_BUFFER_RING_BUFFER_H_
#define BASE_TRACE_EVENT_TRACE_BUFFER_RING_BUFFER_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "base/trace_event/trace_buffer.h"

namespace base {

// A trace buffer that never fills: it hands out its chunks oldest first,
// emptied of their events, and recycles them as they come back.
class TraceBufferRingBuffer : public TraceBuffer {
 public:
  explicit TraceBufferRingBuffer(size_t max_chunks);
  ~TraceBufferRingBuffer() override;

  // Null while every chunk is out.
  std::unique_ptr<TraceBufferChunk> GetChunk(size_t* index) override;
  void ReturnChunk(size_t index,
                   std::unique_ptr<TraceBufferChunk> chunk) override;
  bool IsFull() const override;
  size_t Size() const override;
  size_t Capacity() const override;
  TraceEvent* GetEventByHandle(TraceEventHandle handle) override;
  const TraceBufferChunk* NextChunk() override;
  void EstimateTraceMemoryOverhead(TraceEventMemoryOverhead* overhead) override;

 private:
  size_t NextQueueIndex(size_t index) const {
    return (index + 1) % queue_.size();
  }

  const size_t max_chunks_;
  ChunkVector chunks_;
  // The indices of the stored chunks, oldest at `queue_head_`; one place
  // more than chunks, so that a full queue differs from an empty one.
  std::vector<size_t> queue_;
  size_t queue_head_ = 0;
  size_t queue_tail_;
  size_t current_iteration_index_ = 0;
  uint32_t next_seq_ = 1;
};

}  // namespace base

#endif  // BASE_TRACE_EVENT_TRACE_BUFFER_RING_BUFFER_H_
