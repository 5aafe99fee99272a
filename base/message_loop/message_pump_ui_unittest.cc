#include "base/message_loop/message_pump_ui.h"

#include <windows.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "base/bind.h"
#include "base/location.h"
#include "base/message_loop/loop_runner.h"
#include "base/message_loop/message_loop.h"
#include "base/message_loop/message_pump_dispatcher.h"
#include "base/metrics/histogram.h"
#include "base/test/histogram_counts.h"
#include "base/time/tick_time.h"
#include "gtest/gtest.h"

namespace base {
namespace {

constexpr UINT kWakeUpMessage = MessagePumpForUI::kWakeUpMessage;

template <class F>
Closure Task(F function) {
  return Bind(std::move(function));
}

void Post(Closure task, TimeDelta delay = TimeDelta()) {
  MessageLoop::current()->task_runner()->PostTaskWithDelay(
      FROM_HERE, std::move(task), delay);
}

void RunUntilIdle() {
  LoopRunner runner;
  runner.QuitOnceIdle();
  runner.Run();
}

// Takes the thread's queued wake-up messages out, counting them, and puts
// one back so that the pump keeps its own count right.
int CountWakeUpMessages() {
  int count = 0;
  MSG message;
  HWND window = nullptr;
  while (PeekMessageW(&message, nullptr, kWakeUpMessage, kWakeUpMessage,
                      PM_REMOVE)) {
    window = message.hwnd;
    ++count;
  }
  if (count > 0)
    PostMessageW(window, kWakeUpMessage, 0, 0);
  return count;
}

int64_t ProblemCount(int32_t sample) {
  return CountOf(GetLinearHistogram("Lustra.MessageLoopProblem", 4, 5),
                 sample);
}

TEST(MessagePumpUITest, ThousandPostsFromFourThreadsQueueOneWakeUpMessage) {
  MessageLoop loop(MessageLoop::Type::kUI);
  RunUntilIdle();
  ASSERT_EQ(0, CountWakeUpMessages());
  std::atomic<int> ran{0};
  std::vector<std::thread> posters;
  for (int t = 0; t < 4; ++t) {
    posters.emplace_back([&] {
      for (int i = 0; i < 250; ++i)
        loop.task_runner()->PostTask(FROM_HERE, Task([&] { ++ran; }));
    });
  }
  for (std::thread& poster : posters)
    poster.join();
  EXPECT_EQ(1, CountWakeUpMessages());
  RunUntilIdle();
  EXPECT_EQ(1000, ran);
}

TEST(MessagePumpUITest, ConcurrentWakeUpsPostOneMessage) {
  MessagePumpForUI pump;
  std::vector<std::thread> wakers;
  for (int t = 0; t < 4; ++t) {
    wakers.emplace_back([&] {
      for (int i = 0; i < 250; ++i)
        pump.WakeUp();
    });
  }
  for (std::thread& waker : wakers)
    waker.join();
  MSG message;
  int count = 0;
  while (PeekMessageW(&message, pump.window_for_testing(), kWakeUpMessage,
                      kWakeUpMessage, PM_REMOVE)) {
    ++count;
  }
  EXPECT_EQ(1, count);
}

TEST(MessagePumpUITest, QuitMessageEndsNestedRunAndIsSeenByOuterRun) {
  MessageLoop loop(MessageLoop::Type::kUI);
  int64_t quits_before = ProblemCount(3);
  std::vector<std::string> log;
  LoopRunner outer;
  Post(Task([&] {
    LoopRunner inner;
    Post(Task([] { PostQuitMessage(7); }));
    MessageLoop::current()->SetNestableTasksAllowed(true);
    inner.Run();
    log.push_back("inner run ended");
  }));
  outer.Run();
  log.push_back("outer run ended");

  EXPECT_EQ((std::vector<std::string>{"inner run ended", "outer run ended"}),
            log);
  EXPECT_EQ(2, ProblemCount(3) - quits_before);
  // The outer run put it back once more for whoever pumps next.
  MSG message;
  ASSERT_TRUE(PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  EXPECT_EQ(7u, message.wParam);
}

TEST(MessagePumpUITest, TasksRunWhileModalSystemLoopPumps) {
  MessageLoop loop(MessageLoop::Type::kUI);
  bool immediate_ran = false;
  bool delayed_ran = false;
  TickTime delayed_due;
  TickTime delayed_ran_at;
  Post(Task([&] {
    const TimeDelta kDelay = TimeDelta::FromMilliseconds(30);
    delayed_due = TickTime::Now() + kDelay;
    Post(Task([&] {
      delayed_ran = true;
      delayed_ran_at = TickTime::Now();
    }), kDelay);
    Post(Task([&] { immediate_ran = true; }));
    MessageLoop::current()->SetNestableTasksAllowed(true);
    // A modal loop of the system (a menu, a dialog) in miniature: only
    // window procedures see the pump's messages here.
    TickTime deadline = TickTime::Now() + TimeDelta::FromSeconds(10);
    while (!delayed_ran && TickTime::Now() < deadline) {
      MsgWaitForMultipleObjectsEx(0, nullptr, 50, QS_ALLINPUT, 0);
      MSG message;
      while (!delayed_ran && PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
      }
    }
  }));
  RunUntilIdle();
  EXPECT_TRUE(immediate_ran);
  ASSERT_TRUE(delayed_ran);
  EXPECT_GE(delayed_ran_at, delayed_due);
}

// Signals `armed` as the pump begins a wait, then waits as the system does.
struct SignallingWait {
  static DWORD WINAPI Wait(DWORD count, const HANDLE* handles, DWORD timeout,
                           DWORD mask, DWORD flags) {
    if (HANDLE event = armed.load())
      SetEvent(event);
    return MsgWaitForMultipleObjectsEx(count, handles, timeout, mask, flags);
  }
  static inline std::atomic<HANDLE> armed{nullptr};
};

TEST(MessagePumpUITest, WakeUpDroppedByAnEndingModalLoopIsRecovered) {
  MessagePumpForUI::SetWaitFunctionForTesting(&SignallingWait::Wait);
  MessageLoop loop(MessageLoop::Type::kUI);
  const DWORD pump_thread = GetCurrentThreadId();
  LoopRunner runner;
  std::atomic<bool> woken{false};
  HANDLE woken_event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE pump_waits = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::thread poster;
  Post(Task([&] {
    // Allowed before a modal loop runs, which queues a wake-up message; the
    // loop then drops it, as a dialog's loop drops the message it takes
    // after its end.
    MessageLoop::current()->SetNestableTasksAllowed(true);
    MSG message;
    while (PeekMessageW(&message, nullptr, kWakeUpMessage, kWakeUpMessage,
                        PM_REMOVE)) {
    }
    // Once the pump waits, a task from another thread must still wake it.
    SignallingWait::armed = pump_waits;
    poster = std::thread([&] {
      WaitForSingleObject(pump_waits, INFINITE);
      loop.task_runner()->PostTask(FROM_HERE, Task([&] {
        woken = true;
        SetEvent(woken_event);
        runner.Quit();
      }));
      // A pump that was not woken ends on a quit message instead of hanging.
      if (WaitForSingleObject(woken_event, 60000) != WAIT_OBJECT_0)
        PostThreadMessageW(pump_thread, WM_QUIT, 0, 0);
    });
  }));
  runner.Run();
  poster.join();
  SignallingWait::armed = nullptr;
  MessagePumpForUI::SetWaitFunctionForTesting(nullptr);
  CloseHandle(pump_waits);
  CloseHandle(woken_event);
  EXPECT_TRUE(woken);
}

class RecordingDispatcher : public MessagePumpDispatcher {
 public:
  uint32_t Dispatch(const MSG& message) override {
    seen.push_back(message.message);
    return message.message == WM_APP + 2 ? uint32_t{kQuitRun} : 0u;
  }
  std::vector<UINT> seen;
};

TEST(MessagePumpUITest, DispatcherSeesMessagesAndCanEndTheRun) {
  MessageLoop loop(MessageLoop::Type::kUI);
  PostThreadMessageW(GetCurrentThreadId(), WM_APP + 1, 0, 0);
  PostThreadMessageW(GetCurrentThreadId(), WM_APP + 2, 0, 0);
  RecordingDispatcher dispatcher;
  LoopRunner runner(&dispatcher);
  runner.Run();
  EXPECT_EQ((std::vector<UINT>{WM_APP + 1, WM_APP + 2}), dispatcher.seen);
}

// Stands in for a system that rejects the wait: counts the calls and their
// masks.
struct FailingWait {
  static DWORD WINAPI Wait(DWORD, const HANDLE*, DWORD, DWORD mask, DWORD) {
    ++calls;
    masks.push_back(mask);
    SetLastError(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  static inline std::atomic<int> calls{0};
  static inline std::vector<DWORD> masks;
};

TEST(MessagePumpUITest, FailingWaitNarrowsItsMaskThenPollsInsteadOfSpinning) {
  FailingWait::calls = 0;
  FailingWait::masks.clear();
  MessagePumpForUI::SetWaitFunctionForTesting(&FailingWait::Wait);
  {
    MessageLoop loop(MessageLoop::Type::kUI);
    const TimeDelta kDelay = TimeDelta::FromMilliseconds(50);
    TickTime due;
    TickTime ran_at;
    LoopRunner runner;
    // The loop first waits with no time limit, then for a delayed task.
    std::thread poster([&] {
      while (FailingWait::calls == 0)
        Sleep(1);
      loop.task_runner()->PostTask(FROM_HERE, Task([&] {
        due = TickTime::Now() + kDelay;
        Post(Task([&] {
          ran_at = TickTime::Now();
          runner.Quit();
        }), kDelay);
      }));
    });
    const TickTime started = TickTime::Now();
    runner.Run();
    const TimeDelta ran_for = TickTime::Now() - started;
    poster.join();

    EXPECT_GE(ran_at, due);
    ASSERT_GE(FailingWait::masks.size(), 2u);
    EXPECT_EQ(0x1CFFu, FailingWait::masks[0]);
    EXPECT_EQ(0x04FFu, FailingWait::masks[1]);
    // Polling sleeps 10 ms between failed waits, not millions of them. The
    // bound follows the time the loop really ran, however busy the machine.
    EXPECT_LE(FailingWait::calls, ran_for.InMilliseconds() / 10 + 4);
  }
  MessagePumpForUI::SetWaitFunctionForTesting(nullptr);
}

}  // namespace
}  // namespace base
