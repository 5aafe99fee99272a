#include "base/trace_event/trace_buffer_chunk.h"

#include "base/trace_event/trace_event_memory_overhead.h"

namespace base {

namespace {

// The chunk less its slots, which count as events, used or not.
constexpr size_t kChunkOwnBytes =
    sizeof(TraceBufferChunk) -
    TraceBufferChunk::kTraceBufferChunkSize * sizeof(TraceEvent);

}  // namespace

TraceBufferChunk::TraceBufferChunk(uint32_t seq) : seq_(seq) {}

TraceBufferChunk::~TraceBufferChunk() = default;

void TraceBufferChunk::Reset(uint32_t new_seq) {
  for (size_t i = 0; i < used_; ++i)
    events_[i].Reset();
  used_ = 0;
  seq_ = new_seq;
  cached_overhead_estimate_.reset();
}

TraceEvent* TraceBufferChunk::AddTraceEvent(size_t* event_index) {
  if (IsFull())
    return nullptr;
  *event_index = used_++;
  return &events_[*event_index];
}

void TraceBufferChunk::EstimateTraceMemoryOverhead(
    TraceEventMemoryOverhead* overhead) {
  if (!cached_overhead_estimate_) {
    cached_overhead_estimate_ = std::make_unique<TraceEventMemoryOverhead>();
    cached_overhead_estimate_->Add(kOverheadTraceBufferChunk, 1, kChunkOwnBytes,
                                   kChunkOwnBytes);
  }
  const size_t counted =
      static_cast<size_t>(cached_overhead_estimate_->GetTraceEventCount());
  for (size_t i = counted; i < used_; ++i)
    events_[i].EstimateTraceMemoryOverhead(cached_overhead_estimate_.get());

  if (!IsFull()) {
    const size_t unused = kTraceBufferChunkSize - used_;
    overhead->Add(kOverheadUnusedTraceEvent, unused,
                  unused * sizeof(TraceEvent), unused * sizeof(TraceEvent));
  } else if (counted < used_) {
    // Complete now: the tally will not change again, so it counts itself.
    cached_overhead_estimate_->Add(kOverheadMemoryOverhead, 1,
                                   sizeof(TraceEventMemoryOverhead),
                                   sizeof(TraceEventMemoryOverhead));
  }
  overhead->Update(*cached_overhead_estimate_);
}

}  // namespace base
