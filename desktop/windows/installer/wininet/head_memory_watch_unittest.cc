#include "desktop/windows/installer/wininet/head_memory_watch.h"

#include <cstdint>
#include <memory>
#include <vector>

#include "gtest/gtest.h"

namespace installer {
namespace {

constexpr int64_t kMiB = 1024 * 1024;
constexpr int64_t kBound = HeadMemoryWatch::kBound;

// Blocks this large are committed by the heap as regions of their own, and
// given back when freed, as WinINet's growing table of header lines is.
std::unique_ptr<std::vector<char>> Commit(int64_t size) {
  return std::make_unique<std::vector<char>>(static_cast<size_t>(size), 'h');
}

TEST(HeadMemoryWatchTest, OnlyGrowthPastTheBoundCounts) {
  const struct {
    int64_t grown;
    bool past;
  } kCases[] = {{0, false}, {kBound / 2, false}, {kBound + 8 * kMiB, true}};
  for (const auto& test : kCases) {
    HeadMemoryWatch watch;
    watch.Start();
    const auto head = Commit(test.grown);
    const int64_t growth = watch.GrowthPastBound();
    if (test.past)
      EXPECT_GE(growth, test.grown);
    else
      EXPECT_EQ(0, growth) << test.grown;
  }
}

// Growth is measured from the lowest point seen: memory given back after
// the request was sent and taken again by its head counts.
TEST(HeadMemoryWatchTest, MemoryGivenBackAfterTheStartCountsWhenTakenAgain) {
  auto earlier = Commit(kBound / 2);
  HeadMemoryWatch watch;
  watch.Start();
  earlier.reset();
  EXPECT_EQ(0, watch.GrowthPastBound());
  const auto head = Commit(kBound + 8 * kMiB);
  EXPECT_GE(watch.GrowthPastBound(), kBound + 8 * kMiB);
}

TEST(HeadMemoryWatchTest, CommittedPrivateBytesFollowWhatIsCommitted) {
  const int64_t before = HeadMemoryWatch::CommittedPrivateBytes();
  EXPECT_GT(before, 0);
  const auto block = Commit(32 * kMiB);
  EXPECT_GE(HeadMemoryWatch::CommittedPrivateBytes() - before, 32 * kMiB);
}

}  // namespace
}  // namespace installer
