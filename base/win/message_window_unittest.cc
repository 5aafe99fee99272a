#include "base/win/message_window.h"

#include <vector>

#include "base/bind.h"
#include "base/debug/exception_hook.h"
#include "base/test/scoped_log_capture.h"
#include "gtest/gtest.h"

namespace base::win {
namespace {

constexpr UINT kAnswered = WM_USER + 5;
constexpr UINT kIgnored = WM_USER + 6;
constexpr UINT kFaulting = WM_USER + 7;
constexpr DWORD kFaultCode = 0xE0000123;

struct Received {
  UINT message;
  WPARAM wparam;
  LPARAM lparam;
};

MessageWindow::MessageCallback Recorder(std::vector<Received>* received) {
  return Bind<bool(UINT, WPARAM, LPARAM, LRESULT*)>(
      [](std::vector<Received>* received, UINT message, WPARAM wparam,
         LPARAM lparam, LRESULT* result) {
        received->push_back({message, wparam, lparam});
        if (message == kFaulting)
          RaiseException(kFaultCode, 0, 0, nullptr);
        if (message != kAnswered)
          return false;
        *result = 42;
        return true;
      },
      received);
}

bool Received(const std::vector<struct Received>& received, UINT message) {
  for (const auto& r : received) {
    if (r.message == message)
      return true;
  }
  return false;
}

TEST(MessageWindowTest, CallbackAnswersSentAndPostedMessages) {
  std::vector<struct Received> received;
  MessageWindow window;
  {
    // A stale error must not read as a failure to store the window's
    // owner (which would be a fatal trap, logged, and swallowed by the
    // system around window procedures).
    ScopedLogCapture log;
    ASSERT_NE(0, GetMessageWindowClass().atom);
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    ASSERT_TRUE(window.Create(Recorder(&received)));
    EXPECT_TRUE(log.lines().empty());
  }
  ASSERT_NE(nullptr, window.hwnd());
  EXPECT_TRUE(Received(received, WM_CREATE));

  // Message-only: found under HWND_MESSAGE by its class name.
  EXPECT_EQ(window.hwnd(), FindWindowExW(HWND_MESSAGE, nullptr,
                                         L"Tarvo_MessageWindow", nullptr));

  EXPECT_EQ(42, SendMessageW(window.hwnd(), kAnswered, 1, 2));
  EXPECT_EQ(0, SendMessageW(window.hwnd(), kIgnored, 3, 4));

  ASSERT_TRUE(PostMessageW(window.hwnd(), kIgnored, 5, 6));
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
    DispatchMessageW(&message);
  ASSERT_GE(received.size(), 3u);
  const struct Received& last = received.back();
  EXPECT_EQ(kIgnored, last.message);
  EXPECT_EQ(5u, last.wparam);
  EXPECT_EQ(6, last.lparam);
}

TEST(MessageWindowTest, DestructionIsSeenByTheCallback) {
  std::vector<struct Received> received;
  HWND handle = nullptr;
  {
    MessageWindow window;
    ASSERT_TRUE(window.Create(Recorder(&received)));
    handle = window.hwnd();
  }
  EXPECT_TRUE(Received(received, WM_DESTROY));
  EXPECT_FALSE(IsWindow(handle));
}

DWORD g_hooked_code = 0;

long HandleEverything(_EXCEPTION_POINTERS* info) {
  g_hooked_code = info->ExceptionRecord->ExceptionCode;
  return EXCEPTION_EXECUTE_HANDLER;
}

TEST(MessageWindowTest, HookedExceptionInTheCallbackAnswersZero) {
  std::vector<struct Received> received;
  MessageWindow window;
  ASSERT_TRUE(window.Create(Recorder(&received)));
  ExceptionHook previous = SetExceptionHook(&HandleEverything);
  g_hooked_code = 0;
  EXPECT_EQ(0, SendMessageW(window.hwnd(), kFaulting, 0, 0));
  SetExceptionHook(previous);
  EXPECT_EQ(kFaultCode, g_hooked_code);
  // The window still works after the abandoned call.
  EXPECT_EQ(42, SendMessageW(window.hwnd(), kAnswered, 0, 0));
}

}  // namespace
}  // namespace base::win
