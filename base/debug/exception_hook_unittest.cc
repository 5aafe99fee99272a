#include "base/debug/exception_hook.h"

#include <windows.h>

#include <cstdlib>

#include "gtest/gtest.h"

namespace base {
namespace {

constexpr DWORD kContinuableCode = 0xE0001234;

// Written by the hooks, read after the guarded call.
DWORD g_seen_code = 0;
int g_hook_calls = 0;

LONG RecordAndHandle(EXCEPTION_POINTERS* info) {
  g_seen_code = info->ExceptionRecord->ExceptionCode;
  ++g_hook_calls;
  return EXCEPTION_EXECUTE_HANDLER;
}

LONG RecordAndDecline(EXCEPTION_POINTERS* info) {
  g_seen_code = info->ExceptionRecord->ExceptionCode;
  ++g_hook_calls;
  return EXCEPTION_CONTINUE_SEARCH;
}

LONG ResumeContinuable(EXCEPTION_POINTERS* info) {
  ++g_hook_calls;
  return info->ExceptionRecord->ExceptionCode == kContinuableCode
             ? EXCEPTION_CONTINUE_EXECUTION
             : EXCEPTION_CONTINUE_SEARCH;
}

void Trap(void*) { __builtin_trap(); }
void Break(void*) { DebugBreak(); }
void ReadBadAddress(void*) {
  // Through a volatile pointer, so the compiler cannot see it is null.
  volatile int* volatile address = nullptr;
  static_cast<void>(*address);
}

void RaiseContinuableThenMark(void* reached) {
  RaiseException(kContinuableCode, 0, 0, nullptr);
  *static_cast<bool*>(reached) = true;
}

// Stands for the crash handler outside the guard: turns whatever reaches it
// into an exit code telling whether the hook was consulted on the way.
LONG WINAPI ExitFromUnhandled(EXCEPTION_POINTERS* info) {
  TerminateProcess(GetCurrentProcess(), g_hook_calls == 1 ? 43 : 44);
  return EXCEPTION_EXECUTE_HANDLER;
}

class ExceptionHookTest : public testing::Test {
 protected:
  void SetUp() override {
    g_seen_code = 0;
    g_hook_calls = 0;
  }
  void TearDown() override { SetExceptionHook(nullptr); }
};

TEST_F(ExceptionHookTest, HookCanResumeAfterContinuableException) {
  SetExceptionHook(&ResumeContinuable);
  bool reached = false;
  EXPECT_TRUE(CallWithExceptionGuard(&RaiseContinuableThenMark, &reached));
  EXPECT_TRUE(reached);
  EXPECT_EQ(1, g_hook_calls);
}

using ExceptionHookDeathTest = ExceptionHookTest;

// The child exits 42 only when the guard returned false and the hook saw the
// trap's own code.
TEST_F(ExceptionHookDeathTest, HandledTrapAbandonsTheCall) {
  const struct {
    void (*function)(void*);
    DWORD code;
  } kCases[] = {
      {&Trap, STATUS_ILLEGAL_INSTRUCTION},
      {&Break, STATUS_BREAKPOINT},
      {&ReadBadAddress, STATUS_ACCESS_VIOLATION},
  };
  for (const auto& test : kCases) {
    EXPECT_EXIT(
        {
          SetExceptionHook(&RecordAndHandle);
          const bool completed = CallWithExceptionGuard(test.function, nullptr);
          std::exit(!completed && g_hook_calls == 1 && g_seen_code == test.code
                        ? 42
                        : 1);
        },
        testing::ExitedWithCode(42), "")
        << std::hex << test.code;
  }
}

// Without a hook, or with one that declines, the trap travels on to the
// process's unhandled-exception filter.
TEST_F(ExceptionHookDeathTest, UnhandledTrapPassesOn) {
  const struct {
    ExceptionHook hook;
    int exit_code;
  } kCases[] = {{nullptr, 44}, {&RecordAndDecline, 43}};
  for (const auto& test : kCases) {
    EXPECT_EXIT(
        {
          SetUnhandledExceptionFilter(&ExitFromUnhandled);
          SetExceptionHook(test.hook);
          CallWithExceptionGuard(&Trap, nullptr);
          std::exit(1);
        },
        testing::ExitedWithCode(test.exit_code), "");
  }
}

}  // namespace
}  // namespace base
