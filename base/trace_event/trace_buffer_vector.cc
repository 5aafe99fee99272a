#include "base/trace_event/trace_buffer_vector.h"

#include <utility>

#include "base/logging.h"
#include "base/trace_event/thread_trace_context.h"
#include "base/trace_event/trace_event_memory_overhead.h"

namespace base {

TraceBufferVector::TraceBufferVector(size_t max_chunks)
    : max_chunks_(max_chunks) {
  chunks_.reserve(max_chunks_);
}

TraceBufferVector::~TraceBufferVector() = default;

std::unique_ptr<TraceBufferChunk> TraceBufferVector::GetChunk(size_t* index) {
  ThreadTraceContext::ScopedIgnore ignore;
  *index = chunks_.size();
  chunks_.emplace_back();
  ++in_flight_chunk_count_;
  return std::make_unique<TraceBufferChunk>(static_cast<uint32_t>(*index) + 1);
}

void TraceBufferVector::ReturnChunk(size_t index,
                                    std::unique_ptr<TraceBufferChunk> chunk) {
  CHECK(index < chunks_.size() && !chunks_[index] && in_flight_chunk_count_)
      << "a chunk the vector buffer did not hand out";
  --in_flight_chunk_count_;
  chunks_[index] = std::move(chunk);
}

bool TraceBufferVector::IsFull() const {
  return chunks_.size() >= max_chunks_;
}

size_t TraceBufferVector::Size() const {
  return chunks_.size() * TraceBufferChunk::kTraceBufferChunkSize;
}

size_t TraceBufferVector::Capacity() const {
  return max_chunks_ * TraceBufferChunk::kTraceBufferChunkSize;
}

TraceEvent* TraceBufferVector::GetEventByHandle(TraceEventHandle handle) {
  return FindEvent(chunks_, handle);
}

const TraceBufferChunk* TraceBufferVector::NextChunk() {
  while (current_iteration_index_ < chunks_.size()) {
    const TraceBufferChunk* chunk = chunks_[current_iteration_index_++].get();
    if (chunk)
      return chunk;
  }
  return nullptr;
}

void TraceBufferVector::EstimateTraceMemoryOverhead(
    TraceEventMemoryOverhead* overhead) {
  const size_t allocated =
      sizeof(*this) + chunks_.capacity() * sizeof(chunks_[0]);
  const size_t resident = sizeof(*this) + chunks_.size() * sizeof(chunks_[0]);
  overhead->Add(kOverheadTraceBufferVector, 1, allocated, resident);
  for (const auto& chunk : chunks_) {
    if (chunk)
      chunk->EstimateTraceMemoryOverhead(overhead);
  }
}

}  // namespace base
