#include "base/threading/atomic_flag.h"

#include <thread>

#include "gtest/gtest.h"

namespace base {
namespace {

TEST(AtomicFlagTest, StaysSetOnceSet) {
  AtomicFlag flag;
  EXPECT_FALSE(flag.IsSet());
  flag.Set();
  flag.Set();
  EXPECT_TRUE(flag.IsSet());
}

TEST(AtomicFlagTest, PublishesWhatWasWrittenBeforeSet) {
  // Many rounds of hand-over: a reader that sees the flag must also see the
  // payload written before it, never a half-published one.
  constexpr int kRounds = 200;
  int torn = 0;
  for (int round = 0; round < kRounds; ++round) {
    AtomicFlag flag;
    int payload[4] = {};
    std::thread writer([&] {
      for (int& word : payload)
        word = round + 1;
      flag.Set();
    });
    while (!flag.IsSet()) {
    }
    for (int word : payload)
      torn += word != round + 1;
    writer.join();
  }
  EXPECT_EQ(0, torn);
}

}  // namespace
}  // namespace base
