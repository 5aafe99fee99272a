#include "base/threading/sync_event.h"

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

#include "gtest/gtest.h"

namespace base {
namespace {

using ResetMode = SyncEvent::ResetMode;
using InitialState = SyncEvent::InitialState;

TimeDelta Microseconds(int64_t us) {
  return TimeDelta::FromMicroseconds(us);
}

// Signals `event` from another thread after `delay`.
std::thread SignalLater(SyncEvent& event, TimeDelta delay) {
  return std::thread([&event, delay] {
    Sleep(static_cast<DWORD>(delay.InMillisecondsRoundedUp()));
    event.Signal();
  });
}

TEST(SyncEventTest, TimedWaitsNeverEndEarly) {
  // Sub-millisecond and odd lengths: a truncated millisecond count would
  // come back before the end.
  for (int64_t us : {1, 400, 999, 1000, 1001, 1500, 2300, 15600}) {
    SCOPED_TRACE(us);
    SyncEvent event(ResetMode::kManual, InitialState::kNotSignaled);
    TickTime start = TickTime::Now();
    EXPECT_FALSE(event.WaitFor(Microseconds(us)));
    EXPECT_GE(TickTime::Now() - start, Microseconds(us));

    TickTime end = TickTime::Now() + Microseconds(us);
    EXPECT_FALSE(event.WaitUntil(end));
    EXPECT_GE(TickTime::Now(), end);
  }
}

TEST(SyncEventTest, PollsReportTheStateWithoutBlocking) {
  struct Case {
    const char* name;
    bool (*wait)(SyncEvent&);
  };
  const Case kPolls[] = {
      {"zero delta", [](SyncEvent& e) { return e.WaitFor(TimeDelta()); }},
      {"null end", [](SyncEvent& e) { return e.WaitUntil(TickTime()); }},
      {"past end",
       [](SyncEvent& e) {
         return e.WaitUntil(TickTime::Now() - TimeDelta::FromSeconds(1));
       }},
  };
  for (const Case& poll : kPolls) {
    SCOPED_TRACE(poll.name);
    SyncEvent unset(ResetMode::kManual, InitialState::kNotSignaled);
    EXPECT_FALSE(poll.wait(unset));

    SyncEvent manual(ResetMode::kManual, InitialState::kSignaled);
    EXPECT_TRUE(poll.wait(manual));
    EXPECT_TRUE(poll.wait(manual));

    SyncEvent automatic(ResetMode::kAutomatic, InitialState::kSignaled);
    EXPECT_TRUE(poll.wait(automatic));
    EXPECT_FALSE(poll.wait(automatic));
  }
}

TEST(SyncEventTest, NegativeDeltaWaitsOnceAndReportsTheState) {
  SyncEvent event(ResetMode::kManual, InitialState::kNotSignaled);
  EXPECT_FALSE(event.WaitFor(TimeDelta::FromSeconds(-5)));
  EXPECT_FALSE(event.WaitFor(TimeDelta::Min()));
  event.Signal();
  EXPECT_TRUE(event.WaitFor(TimeDelta::FromSeconds(-5)));
}

TEST(SyncEventTest, SignalEndsLongWaitsEarly) {
  // The maximum and a count beyond 32 bits of milliseconds both wait without
  // a limit; none of them may time out before the signal.
  for (TimeDelta delta : {TimeDelta::Max(),
                          TimeDelta::FromMilliseconds(int64_t{1} << 33),
                          TimeDelta::FromSeconds(30)}) {
    SCOPED_TRACE(delta.InMicroseconds());
    SyncEvent event(ResetMode::kAutomatic, InitialState::kNotSignaled);
    std::thread signaller = SignalLater(event, TimeDelta::FromMilliseconds(30));
    EXPECT_TRUE(event.WaitFor(delta));
    signaller.join();
  }
  SyncEvent event(ResetMode::kManual, InitialState::kNotSignaled);
  std::thread signaller = SignalLater(event, TimeDelta::FromMilliseconds(30));
  EXPECT_TRUE(event.WaitUntil(TickTime::Now() + TimeDelta::FromSeconds(30)));
  signaller.join();
}

// Starts `count` threads that each wait once on `event` and then count.
class Waiters {
 public:
  Waiters(SyncEvent& event, int count) {
    for (int i = 0; i < count; ++i) {
      threads_.emplace_back([this, &event] {
        ++started_;
        event.Wait();
        ++released_;
      });
    }
    while (started_ < count)
      Sleep(1);
    // Give each thread time to block inside the wait.
    Sleep(50);
  }
  ~Waiters() {
    for (std::thread& thread : threads_)
      thread.join();
  }

  // The number released once at least `expected` are: a release waits as
  // long as the machine makes it, then a pause gives a wrong extra one the
  // time to show.
  int ReleasedOnceAtLeast(int expected) {
    while (released_ < expected)
      Sleep(1);
    Sleep(100);
    return released_;
  }

 private:
  std::atomic<int> started_{0};
  std::atomic<int> released_{0};
  std::vector<std::thread> threads_;
};

TEST(SyncEventTest, AutomaticResetReleasesOneWaiterPerSignal) {
  SyncEvent event(ResetMode::kAutomatic, InitialState::kNotSignaled);
  Waiters waiters(event, 4);
  EXPECT_EQ(0, waiters.ReleasedOnceAtLeast(0));
  for (int expected = 1; expected <= 4; ++expected) {
    event.Signal();
    EXPECT_EQ(expected, waiters.ReleasedOnceAtLeast(expected));
  }
  // The last release consumed the signal.
  EXPECT_FALSE(event.WaitFor(TimeDelta()));
}

TEST(SyncEventTest, ManualResetReleasesEveryWaiter) {
  SyncEvent event(ResetMode::kManual, InitialState::kNotSignaled);
  Waiters waiters(event, 4);
  event.Signal();
  EXPECT_EQ(4, waiters.ReleasedOnceAtLeast(4));
  EXPECT_TRUE(event.WaitFor(TimeDelta()));
}

TEST(SyncEventTest, UnwaitableHandleFailsPromptly) {
  // A handle closed under the waiter, and none at all: waiting again would
  // fail again, so the wait must give up instead of spinning to its end.
  win::ScopedHandle closed(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  ASSERT_TRUE(closed.IsValid());
  HANDLE stale = closed.Get();
  closed.Close();
  // The end lies beyond any test run: a wait that spun towards it would
  // hang the test rather than pass on a slow machine.
  for (HANDLE handle : {stale, static_cast<HANDLE>(nullptr)}) {
    const TickTime start = TickTime::Now();
    EXPECT_FALSE(WaitForEventUntil(handle, start,
                                   start + TimeDelta::FromSeconds(24 * 3600)));
  }
}

}  // namespace
}  // namespace base
