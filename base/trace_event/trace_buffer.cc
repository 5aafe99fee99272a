#include "base/trace_event/trace_buffer.h"

namespace base {

// static
TraceEvent* TraceBuffer::FindEvent(ChunkVector& chunks,
                                   TraceEventHandle handle) {
  const size_t chunk_index = TraceEventHandleChunkIndex(handle);
  if (chunk_index >= chunks.size())
    return nullptr;
  TraceBufferChunk* chunk = chunks[chunk_index].get();
  if (!chunk || chunk->seq() != TraceEventHandleChunkSeq(handle))
    return nullptr;
  return chunk->GetEventAt(TraceEventHandleEventIndex(handle));
}

}  // namespace base
