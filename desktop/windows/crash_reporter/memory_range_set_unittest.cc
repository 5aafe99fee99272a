#include "desktop/windows/crash_reporter/memory_range_set.h"

#include <cstdint>
#include <random>
#include <utility>
#include <vector>

#include "gtest/gtest.h"

namespace installer {
namespace {

using Ranges = std::vector<std::pair<uint64_t, uint64_t>>;

Ranges RangesOf(const MemoryRangeSet& set) {
  return Ranges(set.ranges().begin(), set.ranges().end());
}

TEST(MemoryRangeSetTest, JoinsEveryRangeANewOneOverlapsOrTouches) {
  struct {
    const char* name;
    Ranges before;
    std::pair<uint64_t, uint64_t> added;
    Ranges after;
    uint64_t newly_covered;
  } const kCases[] = {
      {"reaches back and far past", {{1000, 1032}}, {900, 2948},
       {{900, 2948}}, 2048 - 32},
      {"spans three", {{0, 10}, {20, 30}, {40, 50}}, {5, 45}, {{0, 50}}, 20},
      {"inside", {{0, 100}}, {10, 20}, {{0, 100}}, 0},
      {"touches both neighbours", {{0, 10}, {20, 30}}, {10, 20}, {{0, 30}}, 10},
      {"between, apart", {{0, 10}, {30, 40}}, {15, 25},
       {{0, 10}, {15, 25}, {30, 40}}, 10},
      {"empty", {{0, 10}}, {5, 5}, {{0, 10}}, 0},
  };
  for (const auto& test : kCases) {
    MemoryRangeSet set;
    for (const auto& [start, end] : test.before)
      set.Add(start, end);
    const uint64_t covered_before = set.covered_bytes();
    EXPECT_EQ(set.Add(test.added.first, test.added.second), test.newly_covered)
        << test.name;
    EXPECT_EQ(RangesOf(set), test.after) << test.name;
    EXPECT_EQ(set.covered_bytes(), covered_before + test.newly_covered)
        << test.name;
  }
}

// A bitmap of every byte is the model: after each of many random additions
// the set must cover exactly its bytes, as disjoint ranges that do not touch.
TEST(MemoryRangeSetTest, MatchesABitmapOnRandomAdditions) {
  constexpr uint64_t kSpace = 2048;
  std::mt19937 random(7);
  for (int round = 0; round < 10; ++round) {
    MemoryRangeSet set;
    std::vector<bool> bitmap(kSpace, false);
    for (int addition = 0; addition < 200; ++addition) {
      const uint64_t start = random() % kSpace;
      const uint64_t end = std::min<uint64_t>(kSpace, start + random() % 160);
      uint64_t model_added = 0;
      for (uint64_t byte = start; byte < end; ++byte) {
        model_added += !bitmap[byte];
        bitmap[byte] = true;
      }
      ASSERT_EQ(set.Add(start, end), model_added);

      uint64_t covered = 0;
      uint64_t previous_end = 0;
      bool first = true;
      for (const auto& [range_start, range_end] : set.ranges()) {
        ASSERT_LT(range_start, range_end);
        ASSERT_TRUE(first || range_start > previous_end);
        first = false;
        previous_end = range_end;
        covered += range_end - range_start;
      }
      ASSERT_EQ(covered, set.covered_bytes());
      uint64_t model_covered = 0;
      for (uint64_t byte = 0; byte < kSpace; ++byte) {
        model_covered += bitmap[byte];
        const bool in_set = [&] {
          auto range = set.ranges().upper_bound(byte);
          return range != set.ranges().begin() &&
                 byte < std::prev(range)->second;
        }();
        ASSERT_EQ(in_set, bitmap[byte]) << byte;
      }
      ASSERT_EQ(model_covered, set.covered_bytes());
    }
  }
}

}  // namespace
}  // namespace installer
