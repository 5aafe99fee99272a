#ifndef BASE_TRACE_EVENT_THREAD_LOCAL_EVENT_BUFFER_H_
#define BASE_TRACE_EVENT_THREAD_LOCAL_EVENT_BUFFER_H_

#include <cstddef>
#include <cstdint>
#include <memory>

#include "base/message_loop/message_loop.h"
#include "base/trace_event/memory_dump_provider.h"
#include "base/trace_event/trace_buffer_chunk.h"
#include "base/trace_event/trace_event_handle.h"

namespace base {

class TraceLog;

// The chunk a recording thread with a message loop fills without the trace
// log's lock. Made on its thread while recording; deleted when the thread's
// loop goes (or when the log's generation moved on), giving its chunk back
// to the log's buffer if it still belongs there.
class ThreadLocalEventBuffer : public MessageLoop::DestructionObserver,
                               public MemoryDumpProvider {
 public:
  explicit ThreadLocalEventBuffer(TraceLog* trace_log);
  ThreadLocalEventBuffer(const ThreadLocalEventBuffer&) = delete;
  ThreadLocalEventBuffer& operator=(const ThreadLocalEventBuffer&) = delete;
  ~ThreadLocalEventBuffer() override;

  // The calling thread's buffer, or null.
  static ThreadLocalEventBuffer* GetForCurrentThread();
  // Deletes the calling thread's buffer, if any.
  static void DeleteForCurrentThread();

  // A free slot and the handle naming it; null when the log's buffer has no
  // chunk to give.
  TraceEvent* AddTraceEvent(TraceEventHandle* handle);
  // Null unless the handle names an event of this thread's chunk.
  TraceEvent* GetEventByHandle(TraceEventHandle handle);
  uint32_t generation() const { return generation_; }

  void OnLoopDestroying() override;
  bool OnMemoryDump(const MemoryDumpArgs& args,
                    ProcessMemoryDump* dump) override;

 private:
  // Under the log's lock.
  void ReturnChunkWhileLocked();

  TraceLog* const trace_log_;
  std::unique_ptr<TraceBufferChunk> chunk_;
  size_t chunk_index_ = 0;
  const uint32_t generation_;
  MessageLoop* const loop_;
};

}  // namespace base

#endif  // BASE_TRACE_EVENT_THREAD_LOCAL_EVENT_BUFFER_H_
