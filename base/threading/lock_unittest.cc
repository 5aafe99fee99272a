#include "base/threading/lock.h"

#include <atomic>
#include <future>
#include <thread>
#include <vector>

#include "gtest/gtest.h"

namespace base {
namespace {

TEST(LockTest, ExcludesOtherThreads) {
  Lock lock;
  int64_t counter = 0;  // Deliberately not atomic: the lock guards it.
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i) {
    threads.emplace_back([&] {
      for (int j = 0; j < 20000; ++j) {
        AutoLock hold(lock);
        int64_t seen = counter;
        // Invites a preemption inside the guarded region now and then.
        if (j % 64 == 0)
          std::this_thread::yield();
        counter = seen + 1;
      }
    });
  }
  for (std::thread& thread : threads)
    thread.join();
  EXPECT_EQ(8 * 20000, counter);
}

TEST(LockTest, TryFailsWhileAnotherThreadHoldsIt) {
  Lock lock;
  lock.Acquire();
  EXPECT_FALSE(
      std::async(std::launch::async, [&] { return lock.Try(); }).get());
  lock.Release();
  bool taken = std::async(std::launch::async, [&] {
                 bool ok = lock.Try();
                 if (ok)
                   lock.Release();
                 return ok;
               }).get();
  EXPECT_TRUE(taken);
}

// A thread that gives the lock up for a call out lets others in meanwhile
// and holds it again afterwards.
TEST(LockTest, AutoUnlockLetsAnotherThreadIn) {
  Lock lock;
  AutoLock hold(lock);
  bool entered = false;
  {
    AutoUnlock released(lock);
    std::thread([&] {
      AutoLock other(lock);
      entered = true;
    }).join();
  }
  EXPECT_TRUE(entered);
  bool taken_meanwhile = true;
  std::thread([&] {
    taken_meanwhile = lock.Try();
    if (taken_meanwhile)
      lock.Release();
  }).join();
  EXPECT_FALSE(taken_meanwhile);
}

}  // namespace
}  // namespace base
