#include "base/threading/tls_slot.h"

#include <atomic>
#include <thread>
#include <vector>

#include "gtest/gtest.h"

namespace base {
namespace {

// Destructors take plain function pointers, so their records are globals.
TlsSlot g_first;
TlsSlot g_second;
std::atomic<int> g_first_runs{0};
std::atomic<int> g_second_runs{0};
std::atomic<void*> g_last_destroyed{nullptr};

void CountFirst(void* value) {
  g_last_destroyed = value;
  ++g_first_runs;
}
void CountSecond(void*) {
  ++g_second_runs;
}
// Hands work on to the second slot, which needs one more pass.
void ChainToSecond(void* value) {
  ++g_first_runs;
  g_second.Set(value);
}
// Never lets go: only the pass limit ends it.
void RestoreSelf(void* value) {
  ++g_first_runs;
  g_first.Set(value);
}

class TlsSlotTest : public testing::Test {
 protected:
  void SetUp() override {
    g_first_runs = 0;
    g_second_runs = 0;
    g_last_destroyed = nullptr;
  }
  void TearDown() override {
    g_first.Free();
    g_second.Free();
  }

  template <typename Body>
  static void RunOnThread(Body body) {
    std::thread(body).join();  // Joined only after the thread's exit ran.
  }
};

int g_value_a = 0;
int g_value_b = 0;

TEST_F(TlsSlotTest, ValuesBelongToTheirThread) {
  g_first.Initialize(nullptr);
  EXPECT_TRUE(g_first.initialized());
  g_first.Set(&g_value_a);
  void* seen_elsewhere = &g_value_a;
  RunOnThread([&] {
    seen_elsewhere = g_first.Get();
    g_first.Set(&g_value_b);
  });
  EXPECT_EQ(nullptr, seen_elsewhere);
  EXPECT_EQ(&g_value_a, g_first.Get());
}

TEST_F(TlsSlotTest, SetFlagReadsBackThroughGet) {
  g_first.Initialize(nullptr);
  g_first.SetFlag(true);
  EXPECT_NE(nullptr, g_first.Get());
  g_first.SetFlag(false);
  EXPECT_EQ(nullptr, g_first.Get());
}

TEST_F(TlsSlotTest, DestructorGetsTheExitingThreadsValue) {
  g_first.Initialize(&CountFirst);
  RunOnThread([] { g_first.Set(&g_value_b); });
  EXPECT_EQ(1, g_first_runs);
  EXPECT_EQ(&g_value_b, g_last_destroyed);
  // A null value, or no value at all, runs nothing.
  RunOnThread([] { g_first.Set(nullptr); });
  RunOnThread([] {});
  EXPECT_EQ(1, g_first_runs);
}

TEST_F(TlsSlotTest, FreedSlotRunsNoDestructor) {
  g_first.Initialize(&CountFirst);
  std::atomic<bool> stored{false};
  std::atomic<bool> freed{false};
  std::thread thread([&] {
    g_first.Set(&g_value_a);
    stored = true;
    while (!freed)
      std::this_thread::yield();
  });
  while (!stored)
    std::this_thread::yield();
  // The thread still holds a value when the slot goes away.
  g_first.Free();
  freed = true;
  thread.join();
  EXPECT_EQ(0, g_first_runs);
}

TEST_F(TlsSlotTest, DestructorSettingAnotherSlotCausesOneMorePass) {
  g_first.Initialize(&ChainToSecond);
  g_second.Initialize(&CountSecond);
  RunOnThread([] { g_first.Set(&g_value_a); });
  EXPECT_EQ(1, g_first_runs);
  EXPECT_EQ(1, g_second_runs);
}

TEST_F(TlsSlotTest, DestructorThatAlwaysRestoresStopsAfter256Passes) {
  g_first.Initialize(&RestoreSelf);
  RunOnThread([] { g_first.Set(&g_value_a); });
  EXPECT_EQ(256, g_first_runs);
}

TEST_F(TlsSlotTest, ReusedEntryHidesTheOldSlotsValues) {
  // Leave a value behind in every free entry, on this thread and another;
  // then every later slot, whichever entry it gets, must start out empty.
  // The round-robin search visits each free entry once in 256 turns.
  TlsSlot slot;
  auto leave_values = [&] {
    for (int i = 0; i < 256; ++i) {
      slot.Initialize(nullptr);
      slot.Set(&g_value_a);
      slot.Free();
    }
  };
  leave_values();
  std::atomic<int> stale_seen{0};
  std::atomic<bool> left{false};
  std::atomic<bool> checked{false};
  std::thread other([&] {
    leave_values();
    left = true;
    while (!checked)
      std::this_thread::yield();
    for (int i = 0; i < 256; ++i) {
      slot.Initialize(nullptr);
      stale_seen += slot.Get() != nullptr;
      slot.Free();
    }
  });
  while (!left)
    std::this_thread::yield();
  for (int i = 0; i < 256; ++i) {
    slot.Initialize(nullptr);
    stale_seen += slot.Get() != nullptr;
    slot.Free();
  }
  checked = true;
  other.join();
  EXPECT_EQ(0, stale_seen);
}

TEST_F(TlsSlotTest, UninitializedSlotReadsNullAndFreesQuietly) {
  TlsSlot slot;
  EXPECT_FALSE(slot.initialized());
  EXPECT_EQ(nullptr, slot.Get());
  slot.Free();
  slot.Initialize(nullptr);
  slot.Set(&g_value_a);
  slot.Free();
  EXPECT_FALSE(slot.initialized());
  EXPECT_EQ(nullptr, slot.Get());
  slot.Free();
}

TEST_F(TlsSlotTest, MisuseIsFatal) {
  EXPECT_DEATH(
      {
        TlsSlot slot;
        slot.Set(&g_value_a);
      },
      "not initialised");
  // 256 entries exist, so 257 slots in use at once cannot be.
  EXPECT_DEATH(
      {
        static TlsSlot slots[257];
        for (TlsSlot& slot : slots)
          slot.Initialize(nullptr);
      },
      "all thread-local slots are in use");
}

}  // namespace
}  // namespace base
