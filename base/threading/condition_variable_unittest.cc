#include "base/threading/condition_variable.h"

#include <thread>
#include <vector>

#include "base/threading/lock.h"
#include "gtest/gtest.h"

namespace base {
namespace {

// Two threads take turns through one variable many times: each wait must
// give the lock up (or the other thread never gets its turn) and hold it
// again on return (the plain counter would lose steps), and no wake may be
// lost between the change and the sleep.
TEST(ConditionVariableTest, AlternatesTwoThreadsWithoutLosingATurn) {
  constexpr int kRounds = 5000;
  Lock lock;
  ConditionVariable turn_changed(&lock);
  int turn = 0;  // Whose turn: 0 or 1. Guarded by `lock`.
  int steps = 0;  // Deliberately not atomic: the lock guards it.
  auto take_turns = [&](int self) {
    for (int i = 0; i < kRounds; ++i) {
      AutoLock hold(lock);
      while (turn != self)
        turn_changed.Wait();
      ++steps;
      turn = 1 - self;
      turn_changed.Signal();
    }
  };
  std::thread other(take_turns, 1);
  take_turns(0);
  other.join();
  EXPECT_EQ(2 * kRounds, steps);
}

// A broadcast reaches every waiter, however many sleep at once; a signal
// would leave all but one asleep and the joins would never return.
TEST(ConditionVariableTest, BroadcastWakesEveryWaiter) {
  constexpr int kWaiters = 8;
  Lock lock;
  ConditionVariable changed(&lock);
  int asleep = 0;
  int woken = 0;
  bool released = false;
  std::vector<std::thread> waiters;
  for (int i = 0; i < kWaiters; ++i) {
    waiters.emplace_back([&] {
      AutoLock hold(lock);
      ++asleep;
      changed.Broadcast();
      while (!released)
        changed.Wait();
      ++woken;
    });
  }
  {
    AutoLock hold(lock);
    while (asleep < kWaiters)
      changed.Wait();
    released = true;
    changed.Broadcast();
  }
  for (std::thread& waiter : waiters)
    waiter.join();
  EXPECT_EQ(kWaiters, woken);
}

}  // namespace
}  // namespace base
