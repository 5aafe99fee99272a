#include "base/trace_event/thread_trace_context.h"

#include <windows.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "base/allocator/allocator_dispatch.h"
#include "base/message_loop/task_annotator.h"
#include "gtest/gtest.h"

namespace base {
namespace {

// Capture is switched on once for the process, as the memory-dump manager
// would; every test of this file runs on a thread of its own, so that each
// starts with a fresh record.
template <class Body>
void OnNewThreadWithCapture(Body body) {
  ThreadTraceContext::SetCaptureMode(ThreadTraceContext::kCapturePseudoStack);
  std::thread([&] {
    ThreadTraceContext* context = ThreadTraceContext::GetForCurrentThread();
    ASSERT_NE(nullptr, context);
    body(*context);
  }).join();
}

const char kNames[20][4] = {"0",  "1",  "2",  "3",  "4",  "5",  "6",
                            "7",  "8",  "9",  "10", "11", "12", "13",
                            "14", "15", "16", "17", "18", "19"};

TEST(ThreadTraceContextTest, PopAfterOverflowRemovesOnlyWhatWasPushed) {
  OnNewThreadWithCapture([](ThreadTraceContext& context) {
    for (int i = 0; i < 17; ++i)
      context.PushContext(kNames[i]);
    ASSERT_EQ(16u, context.task_contexts().size());
    EXPECT_STREQ("15", context.task_contexts().back());
    // The 17th task ends: the 16th is still running.
    context.PopContext();
    ASSERT_EQ(16u, context.task_contexts().size());
    EXPECT_STREQ("15", context.task_contexts().back());
    context.PopContext();
    ASSERT_EQ(15u, context.task_contexts().size());
    EXPECT_STREQ("14", context.task_contexts().back());
    for (int i = 0; i < 20; ++i)
      context.PopContext();
    EXPECT_TRUE(context.task_contexts().empty());
  });
}

TEST(ThreadTraceContextTest, FramesBeyondTheDepthLimitPairWithTheirEnds) {
  OnNewThreadWithCapture([](ThreadTraceContext& context) {
    for (size_t i = 0; i < ThreadTraceContext::kMaxStackDepth + 2; ++i)
      context.PushFrame({"cat", kNames[i % 20]});
    EXPECT_EQ(ThreadTraceContext::kMaxStackDepth,
              context.pseudo_stack().size());
    context.PopFrame();
    context.PopFrame();
    EXPECT_EQ(ThreadTraceContext::kMaxStackDepth,
              context.pseudo_stack().size());
    context.PopFrame();
    EXPECT_EQ(ThreadTraceContext::kMaxStackDepth - 1,
              context.pseudo_stack().size());
  });
}

TEST(ThreadTraceContextTest, IgnoreCounterNeverGoesBelowZero) {
  OnNewThreadWithCapture([](ThreadTraceContext& context) {
    context.EndIgnore();
    EXPECT_EQ(0u, context.ignore_count());
    {
      ThreadTraceContext::ScopedIgnore outer;
      ThreadTraceContext::ScopedIgnore inner;
      EXPECT_EQ(2u, context.ignore_count());
    }
    EXPECT_EQ(0u, context.ignore_count());
  });
}

// Asks for the record from inside every allocation of one thread, as an
// allocator hook attributing allocations would.
std::atomic<DWORD> g_probe_thread{0};
std::atomic<int> g_null_answers{0};
std::atomic<int> g_answers{0};

void* ProbeAlloc(const AllocatorDispatch* self, size_t size, void* context) {
  if (g_probe_thread.load() == GetCurrentThreadId()) {
    ++g_answers;
    if (!ThreadTraceContext::GetForCurrentThread())
      ++g_null_answers;
  }
  return self->next->alloc_function(self->next, size, context);
}

TEST(ThreadTraceContextTest, AskingDuringItsOwnCreationAnswersNull) {
  ThreadTraceContext::SetCaptureMode(ThreadTraceContext::kCapturePseudoStack);
  // Every other entry goes straight to the module heap, where all blocks
  // live whichever table made them.
  AllocatorDispatch probe = *GetDefaultAllocatorDispatch();
  probe.alloc_function = &ProbeAlloc;
  InsertAllocatorDispatch(&probe);
  ThreadTraceContext* made = nullptr;
  std::thread([&] {
    // The thread's slot array first, so that only the record is made below.
    TaskAnnotator::CurrentTaskForThread();
    g_probe_thread = GetCurrentThreadId();
    made = ThreadTraceContext::GetForCurrentThread();
    g_probe_thread = 0;
  }).join();
  RemoveAllocatorDispatchForTesting(&probe);
  EXPECT_NE(nullptr, made);
  EXPECT_GT(g_answers.load(), 0);
  EXPECT_EQ(g_answers.load(), g_null_answers.load());
}

}  // namespace
}  // namespace base
