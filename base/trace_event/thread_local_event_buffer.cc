#include "base/trace_event/thread_local_event_buffer.h"

#include <windows.h>

#include <utility>

#include "base/current_task_runner_handle.h"
#include "base/strings/string_format.h"
#include "base/trace_event/memory_dump_manager.h"
#include "base/trace_event/trace_event_memory_overhead.h"
#include "base/trace_event/trace_log.h"

namespace base {

namespace {

// The calling thread's buffer, which owns itself through this slot.
thread_local ThreadLocalEventBuffer* t_event_buffer = nullptr;

}  // namespace

ThreadLocalEventBuffer::ThreadLocalEventBuffer(TraceLog* trace_log)
    : trace_log_(trace_log),
      generation_(trace_log->generation()),
      loop_(MessageLoop::current()) {
  t_event_buffer = this;
  loop_->AddDestructionObserver(this);
  MemoryDumpManager::GetInstance()->RegisterDumpProvider(
      this, "ThreadLocalEventBuffer", CurrentTaskRunnerHandle::Get());
  AutoLock lock(trace_log_->lock_);
  trace_log_->thread_message_loops_.insert(loop_);
}

ThreadLocalEventBuffer::~ThreadLocalEventBuffer() {
  loop_->RemoveDestructionObserver(this);
  MemoryDumpManager::GetInstance()->UnregisterDumpProviderInternal(this);
  {
    AutoLock lock(trace_log_->lock_);
    ReturnChunkWhileLocked();
    trace_log_->thread_message_loops_.erase(loop_);
  }
  if (t_event_buffer == this)
    t_event_buffer = nullptr;
}

// static
ThreadLocalEventBuffer* ThreadLocalEventBuffer::GetForCurrentThread() {
  return t_event_buffer;
}

// static
void ThreadLocalEventBuffer::DeleteForCurrentThread() {
  std::unique_ptr<ThreadLocalEventBuffer> buffer(t_event_buffer);
}

TraceEvent* ThreadLocalEventBuffer::AddTraceEvent(TraceEventHandle* handle) {
  if (chunk_ && chunk_->IsFull()) {
    AutoLock lock(trace_log_->lock_);
    ReturnChunkWhileLocked();
  }
  if (!chunk_) {
    AutoLock lock(trace_log_->lock_);
    chunk_ = trace_log_->logged_events_->GetChunk(&chunk_index_);
    trace_log_->CheckIfBufferIsFullWhileLocked();
  }
  if (!chunk_)
    return nullptr;
  size_t event_index = 0;
  TraceEvent* event = chunk_->AddTraceEvent(&event_index);
  if (event && handle) {
    *handle = MakeTraceEventHandle(chunk_->seq(),
                                   static_cast<uint32_t>(chunk_index_),
                                   static_cast<uint32_t>(event_index));
  }
  return event;
}

TraceEvent* ThreadLocalEventBuffer::GetEventByHandle(TraceEventHandle handle) {
  if (!chunk_ || chunk_->seq() != TraceEventHandleChunkSeq(handle) ||
      TraceEventHandleChunkIndex(handle) != chunk_index_) {
    return nullptr;
  }
  const uint32_t event_index = TraceEventHandleEventIndex(handle);
  return event_index < chunk_->size() ? chunk_->GetEventAt(event_index)
                                      : nullptr;
}

void ThreadLocalEventBuffer::OnLoopDestroying() {
  std::unique_ptr<ThreadLocalEventBuffer> self(this);
}

bool ThreadLocalEventBuffer::OnMemoryDump(const MemoryDumpArgs& args,
                                          ProcessMemoryDump* dump) {
  if (!chunk_)
    return true;
  TraceEventMemoryOverhead overhead;
  chunk_->EstimateTraceMemoryOverhead(&overhead);
  overhead.DumpInto(
      FormatString("tracing/thread_%d",
                   static_cast<int>(GetCurrentThreadId())).c_str(),
      dump);
  return true;
}

void ThreadLocalEventBuffer::ReturnChunkWhileLocked() {
  if (!chunk_)
    return;
  // A chunk of an older buffer is dropped: its buffer is gone.
  if (generation_ == trace_log_->generation())
    trace_log_->logged_events_->ReturnChunk(chunk_index_, std::move(chunk_));
  chunk_.reset();
}

}  // namespace base
