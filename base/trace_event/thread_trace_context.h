#ifndef BASE_TRACE_EVENT_THREAD_TRACE_CONTEXT_H_
#define BASE_TRACE_EVENT_THREAD_TRACE_CONTEXT_H_

#include <cstddef>
#include <cstdint>
#include <vector>

namespace base {

// In which context a thread is working, for a heap profiler to attribute
// its allocations: a pseudo stack of trace-event frames (kept by the
// heap-profiler event filter) and a stack of task contexts (the posting
// file of each task being run, or the thread's name). Everything here acts
// only while the process-wide capture mode is on; callers test it first.
// Each record is touched only by its own thread.
class ThreadTraceContext {
 public:
  static constexpr size_t kMaxStackDepth = 128;
  static constexpr size_t kMaxTaskDepth = 16;

  enum CaptureMode : int { kCaptureOff = 0, kCapturePseudoStack = 1 };

  struct Frame {
    const char* category_group;
    const char* name;
  };

  // Raises the calling thread's ignore counter for the scope (while capture
  // is on), so that the trace machinery's own allocations are not
  // attributed.
  class ScopedIgnore {
   public:
    ScopedIgnore();
    ScopedIgnore(const ScopedIgnore&) = delete;
    ScopedIgnore& operator=(const ScopedIgnore&) = delete;
    ~ScopedIgnore();

   private:
    ThreadTraceContext* context_ = nullptr;
  };

  ThreadTraceContext(const ThreadTraceContext&) = delete;
  ThreadTraceContext& operator=(const ThreadTraceContext&) = delete;
  ~ThreadTraceContext();

  static int capture_mode();
  // Set once at start-up, before other threads use it (by the memory-dump
  // manager when heap profiling asks for it); turning it on makes the
  // per-thread records available.
  static void SetCaptureMode(int mode);

  // The calling thread's record, made on first use; null while it is being
  // made on this thread (its own allocations may ask), or while capture was
  // never turned on.
  static ThreadTraceContext* GetForCurrentThread();

  // Pushes beyond the depth limits keep nothing but are counted, so that
  // each pop removes only what its push stored and the stacks never lag the
  // real nesting.
  void PushContext(const char* context);
  void PopContext();
  void PushFrame(Frame frame);
  void PopFrame();

  void BeginIgnore();
  // Never below 0.
  void EndIgnore();

  const std::vector<const char*>& task_contexts() const {
    return task_contexts_;
  }
  const std::vector<Frame>& pseudo_stack() const { return pseudo_stack_; }
  // Frame pushes past the depth limit whose pops are still to come.
  size_t frames_dropped() const { return frames_dropped_; }
  uint32_t ignore_count() const { return ignore_count_; }

 private:
  ThreadTraceContext();

  // The slot's thread-exit destructor.
  static void Delete(void* context);

  std::vector<Frame> pseudo_stack_;
  std::vector<const char*> task_contexts_;
  uint32_t ignore_count_ = 0;
  // Pushes past the limits, not stored.
  size_t frames_dropped_ = 0;
  size_t contexts_dropped_ = 0;
};

}  // namespace base

#endif  // BASE_TRACE_EVENT_THREAD_TRACE_CONTEXT_H_
