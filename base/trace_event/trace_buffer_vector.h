#ifndef BASE_TRACE_EVENT_TRACE_BUFFER_VECTOR_H_
#define BASE_TRACE_EVENT_TRACE_BUFFER_VECTOR_H_

#include <cstddef>
#include <memory>

#include "base/trace_event/trace_buffer.h"

namespace base {

// A trace buffer that grows by one new chunk per request and reports itself
// full once it has handed out its maximum, returned or not.
class TraceBufferVector : public TraceBuffer {
 public:
  explicit TraceBufferVector(size_t max_chunks);
  ~TraceBufferVector() override;

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
  size_t in_flight_chunk_count_ = 0;
  size_t current_iteration_index_ = 0;
  const size_t max_chunks_;
  ChunkVector chunks_;
};

}  // namespace base

#endif  // BASE_TRACE_EVENT_TRACE_BUFFER_VECTOR_H_
