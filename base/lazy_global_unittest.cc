#include "base/lazy_global.h"

#include <windows.h>

#include <atomic>
#include <latch>
#include <thread>
#include <vector>

#include "gtest/gtest.h"

namespace base {
namespace {

std::atomic<int> g_constructions{0};
std::atomic<int> g_destructions{0};

// Slow to make, so that racing threads find the word "being made".
struct SlowObject {
  SlowObject() {
    Sleep(20);
    ++g_constructions;
  }
  ~SlowObject() { ++g_destructions; }
};

TEST(LazyGlobalTest, RacingThreadsGetTheOneObject) {
  ExitCallbackStack stack;  // Deletes the object at the end of the test.
  LazyGlobalInstance<SlowObject> global(LazyGlobalLifetime::kDestroyAtExit);
  g_constructions = 0;
  constexpr int kThreads = 8;
  std::latch start(kThreads);
  std::vector<SlowObject*> seen(kThreads);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      start.arrive_and_wait();
      seen[i] = global.Get();
    });
  }
  for (std::thread& thread : threads)
    thread.join();
  EXPECT_EQ(1, g_constructions);
  for (SlowObject* object : seen)
    EXPECT_EQ(seen[0], object);
  EXPECT_NE(nullptr, seen[0]);
}

TEST(LazyGlobalTest, DestroyedAtExitAndMadeAgainAfter) {
  LazyGlobalInstance<SlowObject> global(LazyGlobalLifetime::kDestroyAtExit);
  g_constructions = 0;
  g_destructions = 0;
  {
    ExitCallbackStack stack;
    SlowObject* first = global.Get();
    EXPECT_EQ(first, global.Get());
    EXPECT_EQ(0, g_destructions);
  }
  EXPECT_EQ(1, g_destructions);
  {
    ExitCallbackStack stack;
    global.Get();
    EXPECT_EQ(2, g_constructions);
  }
  EXPECT_EQ(2, g_destructions);
}

TEST(LazyGlobalTest, WaitForInstanceReturnsThePublishedWord) {
  std::atomic<uintptr_t> word{LazyGlobal::kBeingCreated};
  std::thread maker([&] {
    Sleep(10);
    word.store(0x1000);
  });
  EXPECT_EQ(0x1000u, LazyGlobal::WaitForInstance(word));
  maker.join();
}

}  // namespace
}  // namespace base
