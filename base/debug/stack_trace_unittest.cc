#include "base/debug/stack_trace.h"

#include <windows.h>

#include "gtest/gtest.h"

namespace base {
namespace {

// The empty asm after each call keeps the compiler from turning it into a
// tail jump, which would take the caller's frame off the stack.
__attribute__((noinline)) void CaptureFromKnownFunction(StackTrace* trace) {
  StackTrace::Capture(trace, StackTrace::kMaxFrames);
  asm volatile("" ::: "memory");
}

__attribute__((noinline)) void CaptureAtDepth(int depth, StackTrace* trace,
                                              size_t count) {
  if (depth == 0)
    StackTrace::Capture(trace, count);
  else
    CaptureAtDepth(depth - 1, trace, count);
  asm volatile("" ::: "memory");
}

// Whether `frame` lies in the code of `function`, by the module's own
// unwind table.
bool FrameIsInFunction(const void* frame, const void* function) {
  DWORD64 image_base = 0;
  const RUNTIME_FUNCTION* entry = RtlLookupFunctionEntry(
      reinterpret_cast<DWORD64>(function), &image_base, nullptr);
  if (!entry) return false;
  const DWORD64 address = reinterpret_cast<DWORD64>(frame);
  return address >= image_base + entry->BeginAddress &&
         address < image_base + entry->EndAddress;
}

TEST(StackTraceTest, FramesStartInCaptureThenItsCaller) {
  StackTrace trace;
  CaptureFromKnownFunction(&trace);
  ASSERT_GE(trace.count(), 3u);
  EXPECT_TRUE(FrameIsInFunction(
      trace.frames()[0], reinterpret_cast<const void*>(&StackTrace::Capture)));
  EXPECT_TRUE(FrameIsInFunction(
      trace.frames()[1],
      reinterpret_cast<const void*>(&CaptureFromKnownFunction)));
  EXPECT_FALSE(FrameIsInFunction(
      trace.frames()[2],
      reinterpret_cast<const void*>(&CaptureFromKnownFunction)));
}

TEST(StackTraceTest, CapturesAtMostTheFramesAskedAndTheSystemLimit) {
  const struct {
    size_t asked;
    size_t captured;
  } kCases[] = {{100, 62}, {62, 62}, {3, 3}, {0, 0}};
  for (const auto& test : kCases) {
    StackTrace trace;
    CaptureAtDepth(80, &trace, test.asked);
    EXPECT_EQ(test.captured, trace.count()) << test.asked;
    for (size_t i = 1; i < trace.count(); ++i) {
      EXPECT_TRUE(FrameIsInFunction(
          trace.frames()[i], reinterpret_cast<const void*>(&CaptureAtDepth)))
          << i;
    }
  }
}

}  // namespace
}  // namespace base
