// The trace log's buffer: which kind the options ask for, the chunk shared
// by threads without a buffer of their own, the lookup of an event by its
// handle, the memory it all takes, and the flush that reads it back.

#include <memory>
#include <string>
#include <utility>

#include "base/message_loop/message_loop.h"
#include "base/trace_event/thread_local_event_buffer.h"
#include "base/trace_event/thread_trace_context.h"
#include "base/trace_event/trace_buffer_ring_buffer.h"
#include "base/trace_event/trace_buffer_vector.h"
#include "base/trace_event/trace_event_memory_overhead.h"
#include "base/trace_event/trace_log.h"

namespace base {

std::unique_ptr<TraceBuffer> TraceLog::CreateTraceBuffer() const {
  ThreadTraceContext::ScopedIgnore ignore;
  if (trace_options_ & kOptionRecordContinuously)
    return std::make_unique<TraceBufferRingBuffer>(1000);
  if (trace_options_ & kOptionEchoToConsole)
    return std::make_unique<TraceBufferRingBuffer>(256);
  if (trace_options_ & kOptionRecordAsMuchAsPossible)
    return std::make_unique<TraceBufferVector>(8000000);
  return std::make_unique<TraceBufferVector>(4000);
}

ThreadLocalEventBuffer* TraceLog::InitializeThreadLocalEventBuffer() {
  ThreadLocalEventBuffer* buffer = ThreadLocalEventBuffer::GetForCurrentThread();
  if (buffer && buffer->generation() != generation()) {
    ThreadLocalEventBuffer::DeleteForCurrentThread();
    buffer = nullptr;
  }
  if (!buffer && MessageLoop::current()) {
    ThreadTraceContext::ScopedIgnore ignore;
    // Owned by the thread's slot; deleted with the thread's loop.
    buffer = std::make_unique<ThreadLocalEventBuffer>(this).release();
  }
  return buffer;
}

TraceEvent* TraceLog::AddEventToSharedChunkWhileLocked(
    TraceEventHandle* handle, bool check_buffer_is_full) {
  if (thread_shared_chunk_ && thread_shared_chunk_->IsFull()) {
    logged_events_->ReturnChunk(thread_shared_chunk_index_,
                                std::move(thread_shared_chunk_));
  }
  if (!thread_shared_chunk_) {
    thread_shared_chunk_ = logged_events_->GetChunk(&thread_shared_chunk_index_);
    if (check_buffer_is_full)
      CheckIfBufferIsFullWhileLocked();
  }
  if (!thread_shared_chunk_)
    return nullptr;
  size_t event_index = 0;
  TraceEvent* event = thread_shared_chunk_->AddTraceEvent(&event_index);
  if (event && handle) {
    *handle = MakeTraceEventHandle(
        thread_shared_chunk_->seq(),
        static_cast<uint32_t>(thread_shared_chunk_index_),
        static_cast<uint32_t>(event_index));
  }
  return event;
}

void TraceLog::CheckIfBufferIsFullWhileLocked() {
  if (!logged_events_->IsFull())
    return;
  if (buffer_overflow_timestamp_ == 0)
    buffer_overflow_timestamp_ = Now();
  SetDisabledWhileLocked(kRecordingMode);
}

TraceEvent* TraceLog::GetEventByHandle(TraceEventHandle handle,
                                       std::unique_ptr<AutoLock>* lock) {
  if (ThreadLocalEventBuffer* buffer =
          ThreadLocalEventBuffer::GetForCurrentThread()) {
    if (TraceEvent* event = buffer->GetEventByHandle(handle))
      return event;
  }
  *lock = std::make_unique<AutoLock>(lock_);
  const uint32_t event_index = TraceEventHandleEventIndex(handle);
  if (thread_shared_chunk_ &&
      TraceEventHandleChunkIndex(handle) == thread_shared_chunk_index_) {
    if (thread_shared_chunk_->seq() != TraceEventHandleChunkSeq(handle) ||
        event_index >= thread_shared_chunk_->size()) {
      return nullptr;
    }
    return thread_shared_chunk_->GetEventAt(event_index);
  }
  return logged_events_->GetEventByHandle(handle);
}

bool TraceLog::OnMemoryDump(const MemoryDumpArgs& args,
                            ProcessMemoryDump* dump) {
  TraceEventMemoryOverhead overhead;
  overhead.Add(kOverheadTraceLog, 1, sizeof(*this), sizeof(*this));
  {
    AutoLock lock(lock_);
    if (logged_events_)
      logged_events_->EstimateTraceMemoryOverhead(&overhead);
    for (const std::unique_ptr<TraceEvent>& event : metadata_events_)
      event->EstimateTraceMemoryOverhead(&overhead);
  }
  overhead.Add(kOverheadMemoryOverhead, 1, sizeof(overhead), sizeof(overhead));
  overhead.DumpInto("tracing/main_trace_log", dump);
  return true;
}

std::string TraceLog::FlushForTesting() {
  AutoLock lock(lock_);
  if (thread_shared_chunk_) {
    logged_events_->ReturnChunk(thread_shared_chunk_index_,
                                std::move(thread_shared_chunk_));
  }
  std::string json = "[";
  bool first = true;
  while (const TraceBufferChunk* chunk = logged_events_->NextChunk()) {
    for (size_t i = 0; i < chunk->size(); ++i) {
      if (!first)
        json += ",";
      first = false;
      chunk->GetEventAt(i)->AppendAsJSON(&json, {});
    }
  }
  json += "]";
  logged_events_ = CreateTraceBuffer();
  generation_.fetch_add(1, std::memory_order_acq_rel);
  return json;
}

}  // namespace base
