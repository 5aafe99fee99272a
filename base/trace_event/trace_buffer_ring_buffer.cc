#include "base/trace_event/trace_buffer_ring_buffer.h"

#include <utility>

#include "base/logging.h"
#include "base/trace_event/thread_trace_context.h"
#include "base/trace_event/trace_event_memory_overhead.h"

namespace base {

TraceBufferRingBuffer::TraceBufferRingBuffer(size_t max_chunks)
    : max_chunks_(max_chunks), queue_(max_chunks + 1), queue_tail_(max_chunks) {
  chunks_.reserve(max_chunks);
  for (size_t i = 0; i < max_chunks; ++i)
    queue_[i] = i;
}

TraceBufferRingBuffer::~TraceBufferRingBuffer() = default;

std::unique_ptr<TraceBufferChunk> TraceBufferRingBuffer::GetChunk(
    size_t* index) {
  // Every chunk is out: the head would run past the tail and hand out an
  // index that is not queued.
  if (queue_head_ == queue_tail_)
    return nullptr;
  ThreadTraceContext::ScopedIgnore ignore;
  *index = queue_[queue_head_];
  queue_head_ = NextQueueIndex(queue_head_);
  current_iteration_index_ = queue_head_;
  if (*index >= chunks_.size())
    chunks_.resize(*index + 1);

  const uint32_t seq = next_seq_++;
  // 0 means no event in a handle.
  if (next_seq_ == 0)
    next_seq_ = 1;
  std::unique_ptr<TraceBufferChunk> chunk = std::move(chunks_[*index]);
  if (chunk)
    chunk->Reset(seq);
  else
    chunk = std::make_unique<TraceBufferChunk>(seq);
  return chunk;
}

void TraceBufferRingBuffer::ReturnChunk(
    size_t index, std::unique_ptr<TraceBufferChunk> chunk) {
  CHECK(index < chunks_.size() && !chunks_[index])
      << "a chunk the ring buffer did not hand out";
  chunks_[index] = std::move(chunk);
  queue_[queue_tail_] = index;
  queue_tail_ = NextQueueIndex(queue_tail_);
}

bool TraceBufferRingBuffer::IsFull() const {
  return false;
}

size_t TraceBufferRingBuffer::Size() const {
  return chunks_.size() * TraceBufferChunk::kTraceBufferChunkSize;
}

size_t TraceBufferRingBuffer::Capacity() const {
  return max_chunks_ * TraceBufferChunk::kTraceBufferChunkSize;
}

TraceEvent* TraceBufferRingBuffer::GetEventByHandle(TraceEventHandle handle) {
  return FindEvent(chunks_, handle);
}

const TraceBufferChunk* TraceBufferRingBuffer::NextChunk() {
  if (chunks_.empty())
    return nullptr;
  while (current_iteration_index_ != queue_tail_) {
    const size_t chunk_index = queue_[current_iteration_index_];
    current_iteration_index_ = NextQueueIndex(current_iteration_index_);
    if (chunk_index < chunks_.size() && chunks_[chunk_index])
      return chunks_[chunk_index].get();
  }
  return nullptr;
}

void TraceBufferRingBuffer::EstimateTraceMemoryOverhead(
    TraceEventMemoryOverhead* overhead) {
  const size_t own = sizeof(*this) + chunks_.capacity() * sizeof(chunks_[0]) +
                     queue_.capacity() * sizeof(queue_[0]);
  overhead->Add(kOverheadTraceBufferRingBuffer, 1, own, own);
  for (size_t i = queue_head_; i != queue_tail_; i = NextQueueIndex(i)) {
    const size_t chunk_index = queue_[i];
    if (chunk_index < chunks_.size() && chunks_[chunk_index])
      chunks_[chunk_index]->EstimateTraceMemoryOverhead(overhead);
  }
}

}  // namespace base
