#include "base/trace_event/thread_trace_context.h"

#include <atomic>
#include <memory>

#include "base/threading/tls_slot.h"

namespace base {

namespace {

// In a thread's slot while its record is being made.
void* const kBeingMade = reinterpret_cast<void*>(~uintptr_t{0});

constinit std::atomic<int> g_capture_mode{ThreadTraceContext::kCaptureOff};
constinit TlsSlot g_slot;
constinit std::atomic<bool> g_slot_created{false};

}  // namespace

ThreadTraceContext::ScopedIgnore::ScopedIgnore() {
  if (capture_mode() == kCaptureOff)
    return;
  context_ = GetForCurrentThread();
  if (context_)
    context_->BeginIgnore();
}

ThreadTraceContext::ScopedIgnore::~ScopedIgnore() {
  if (context_)
    context_->EndIgnore();
}

// static
int ThreadTraceContext::capture_mode() {
  return g_capture_mode.load(std::memory_order_relaxed);
}

// static
void ThreadTraceContext::SetCaptureMode(int mode) {
  if (mode != kCaptureOff && !g_slot_created.load(std::memory_order_acquire)) {
    g_slot.Initialize(&ThreadTraceContext::Delete);
    g_slot_created.store(true, std::memory_order_release);
  }
  g_capture_mode.store(mode, std::memory_order_relaxed);
}

// static
ThreadTraceContext* ThreadTraceContext::GetForCurrentThread() {
  if (!g_slot_created.load(std::memory_order_acquire))
    return nullptr;
  void* value = g_slot.Get();
  if (value == kBeingMade)
    return nullptr;
  if (value)
    return static_cast<ThreadTraceContext*>(value);
  g_slot.Set(kBeingMade);
  // Owned through the slot; deleted as the thread ends.
  ThreadTraceContext* context =
      std::unique_ptr<ThreadTraceContext>(new ThreadTraceContext()).release();
  g_slot.Set(context);
  return context;
}

ThreadTraceContext::ThreadTraceContext() {
  pseudo_stack_.reserve(kMaxStackDepth);
  task_contexts_.reserve(kMaxTaskDepth);
}

ThreadTraceContext::~ThreadTraceContext() = default;

// static
void ThreadTraceContext::Delete(void* context) {
  if (context == kBeingMade)
    return;
  std::unique_ptr<ThreadTraceContext> owned(
      static_cast<ThreadTraceContext*>(context));
}

void ThreadTraceContext::PushContext(const char* context) {
  if (task_contexts_.size() < kMaxTaskDepth)
    task_contexts_.push_back(context);
  else
    ++contexts_dropped_;
}

void ThreadTraceContext::PopContext() {
  if (contexts_dropped_ > 0)
    --contexts_dropped_;
  else if (!task_contexts_.empty())
    task_contexts_.pop_back();
}

void ThreadTraceContext::PushFrame(Frame frame) {
  if (pseudo_stack_.size() < kMaxStackDepth)
    pseudo_stack_.push_back(frame);
  else
    ++frames_dropped_;
}

void ThreadTraceContext::PopFrame() {
  if (frames_dropped_ > 0)
    --frames_dropped_;
  else if (!pseudo_stack_.empty())
    pseudo_stack_.pop_back();
}

void ThreadTraceContext::BeginIgnore() {
  ++ignore_count_;
}

void ThreadTraceContext::EndIgnore() {
  if (ignore_count_ > 0)
    --ignore_count_;
}

}  // namespace base
