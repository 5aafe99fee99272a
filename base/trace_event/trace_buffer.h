#ifndef BASE_TRACE_EVENT_TRACE_BUFFER_H_
#define BASE_TRACE_EVENT_TRACE_BUFFER_H_

#include <cstddef>
#include <memory>
#include <vector>

#include "base/trace_event/trace_buffer_chunk.h"
#include "base/trace_event/trace_event_handle.h"

namespace base {

class TraceEventMemoryOverhead;

// Where the trace log keeps its events, in chunks it takes out and gives
// back. Used under the trace log's lock.
class TraceBuffer {
 public:
  virtual ~TraceBuffer() = default;

  // A chunk to fill and the index to give it back under; null when the
  // buffer has none to give, which the caller must handle.
  virtual std::unique_ptr<TraceBufferChunk> GetChunk(size_t* index) = 0;
  virtual void ReturnChunk(size_t index,
                           std::unique_ptr<TraceBufferChunk> chunk) = 0;
  virtual bool IsFull() const = 0;
  // Event slots held, and the most it may hold.
  virtual size_t Size() const = 0;
  virtual size_t Capacity() const = 0;
  // Null when the handle's chunk is out, gone or recycled since.
  virtual TraceEvent* GetEventByHandle(TraceEventHandle handle) = 0;
  // The next stored chunk of an iteration; null at its end.
  virtual const TraceBufferChunk* NextChunk() = 0;
  virtual void EstimateTraceMemoryOverhead(
      TraceEventMemoryOverhead* overhead) = 0;

 protected:
  using ChunkVector = std::vector<std::unique_ptr<TraceBufferChunk>>;

  // The event `handle` names in `chunks`, indexed by chunk index.
  static TraceEvent* FindEvent(ChunkVector& chunks, TraceEventHandle handle);
};

}  // namespace base

#endif  // BASE_TRACE_EVENT_TRACE_BUFFER_H_
