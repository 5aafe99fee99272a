#include "base/metrics/persistent_memory_allocator.h"

#include <cstring>
#include <memory>
#include <set>
#include <thread>
#include <vector>

#include "base/metrics/histogram.h"
#include "base/metrics/histogram_registry.h"
#include "base/test/histogram_counts.h"
#include "base/test/scoped_log_capture.h"
#include "gtest/gtest.h"

namespace base {
namespace {

using Reference = PersistentMemoryAllocator::Reference;

constexpr uint32_t kType = 0x1234;

// Zeroed, 8-aligned memory and an allocator over it.
struct Segment {
  Segment(uint32_t size, uint32_t page_size, HistogramBase* errors = nullptr)
      : memory(size / 8),
        allocator(PersistentMemoryAllocator::Create(
            memory.data(), size, page_size, 1, false, nullptr, errors)) {}

  uint32_t Word(uint32_t offset) const {
    uint32_t word = 0;
    memcpy(&word, reinterpret_cast<const uint8_t*>(memory.data()) + offset, 4);
    return word;
  }
  void SetWord(uint32_t offset, uint32_t word) {
    memcpy(reinterpret_cast<uint8_t*>(memory.data()) + offset, &word, 4);
  }

  std::vector<uint64_t> memory;
  std::unique_ptr<PersistentMemoryAllocator> allocator;
};

TEST(PersistentMemoryAllocatorTest, UnusableSegmentsAreRefused) {
  struct Case {
    uint32_t size;
    uint32_t page_size;
  };
  // A zero page size would be a division by zero; a page size that is not a
  // multiple of 8, or pages that do not tile the segment, misalign blocks.
  const Case kCases[] = {{4096, 0}, {4096, 12}, {4096 + 8, 4096}, {48, 48}};
  for (const Case& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.size << " / " << c.page_size);
    std::vector<uint64_t> memory(c.size / 8 + 1);
    EXPECT_EQ(nullptr, PersistentMemoryAllocator::Create(
                           memory.data(), c.size, c.page_size, 1, false));
  }
  // Nothing was formatted.
  std::vector<uint64_t> memory(512);
  EXPECT_EQ(nullptr, PersistentMemoryAllocator::Create(memory.data(), 4096, 0,
                                                       1, false));
  EXPECT_EQ(0u, memory[4]);
}

TEST(PersistentMemoryAllocatorTest, BlocksArePlacedWithinPages) {
  struct Case {
    const char* what;
    uint32_t size;
    std::vector<uint32_t> requests;
    std::vector<Reference> references;
    std::vector<uint32_t> payloads;
    // Offset of a filler closing a page, 0 for none.
    uint32_t filler;
    bool full;
  };
  const Case kCases[] = {
      {"first at 56, one byte takes 24", 16384, {1}, {56}, {8}, 0, false},
      {"nothing for 0 or more than a page",
       16384,
       {0, 5000, 1},
       {0, 0, 56},
       {0, 0, 8},
       0,
       false},
      // 4040 bytes remain in the first page; 4024 + 16 would leave 16.
      {"a rest under 24 goes with the block",
       16384,
       {4008, 1},
       {56, 4096},
       {4024, 8},
       0,
       false},
      {"a block that does not fit starts the next page",
       16384,
       {4000, 100},
       {56, 4096},
       {4000, 104},
       4072,
       false},
      {"a full segment", 4096, {4000, 100}, {56, 0}, {4000, 0}, 0, true},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    Segment segment(c.size, 4096);
    for (size_t i = 0; i < c.requests.size(); ++i) {
      const Reference ref = segment.allocator->Allocate(c.requests[i], kType);
      EXPECT_EQ(c.references[i], ref) << i;
      EXPECT_EQ(c.payloads[i], segment.allocator->GetAllocSize(ref)) << i;
    }
    if (c.filler) {
      EXPECT_EQ(24u, segment.Word(c.filler));
      EXPECT_EQ(0xFFFFFFFFu, segment.Word(c.filler + 4));
    }
    EXPECT_EQ(c.full, segment.allocator->IsFull());
    EXPECT_FALSE(segment.allocator->IsCorrupt());
  }
}

std::vector<Reference> Walk(const PersistentMemoryAllocator* allocator) {
  PersistentMemoryAllocator::Iterator iterator(allocator);
  std::vector<Reference> refs;
  uint32_t type = 0;
  while (Reference ref = iterator.GetNext(&type))
    refs.push_back(ref);
  return refs;
}

TEST(PersistentMemoryAllocatorTest, BlocksAreLinkedOnceInOrder) {
  Segment segment(16384, 4096);
  PersistentMemoryAllocator* allocator = segment.allocator.get();
  const Reference a = allocator->Allocate(10, kType);
  const Reference b = allocator->Allocate(10, kType + 1);
  const Reference c = allocator->Allocate(10, kType);
  EXPECT_TRUE(Walk(allocator).empty());
  for (Reference ref : {b, a, b, c, a})
    allocator->MakeIterable(ref);
  EXPECT_EQ(std::vector<Reference>({b, a, c}), Walk(allocator));
  PersistentMemoryAllocator::Iterator of_type(allocator);
  EXPECT_EQ(a, of_type.GetNextOfType(kType));
  EXPECT_EQ(c, of_type.GetNextOfType(kType));
  EXPECT_EQ(0u, of_type.GetNextOfType(kType));

  // Retyping with a clear zeroes the payload; a wrong expectation changes
  // nothing.
  memset(allocator->GetBlockData(a, kType, 10), 0xAB, 10);
  EXPECT_FALSE(allocator->ChangeType(a, 7, kType + 1, true));
  EXPECT_TRUE(allocator->ChangeType(a, 7, kType, true));
  EXPECT_EQ(7u, allocator->GetType(a));
  EXPECT_EQ(0, *static_cast<uint8_t*>(allocator->GetBlockData(a, 7, 10)));
  // References into nowhere are refused without harm.
  for (Reference bad : {0u, 40u, a + 8, c + 4, 1u << 20})
    EXPECT_EQ(0u, allocator->GetAllocSize(bad)) << bad;
  EXPECT_FALSE(allocator->IsCorrupt());
}

TEST(PersistentMemoryAllocatorTest, QueueClosedIntoALoopIsCorrupt) {
  HistogramRegistry::ScopedMapsForTesting registry;
  HistogramBase* errors = GetLinearHistogram("Segment.Errors", 2, 3);
  // What meets the loop first: a walk, or a block being appended.
  for (bool walk_first : {true, false}) {
    SCOPED_TRACE(walk_first ? "walk" : "append");
    Segment segment(4096, 4096, errors);
    PersistentMemoryAllocator* allocator = segment.allocator.get();
    std::vector<Reference> refs;
    for (int i = 0; i < 3; ++i) {
      refs.push_back(allocator->Allocate(8, kType));
      allocator->MakeIterable(refs.back());
    }
    const Reference late = allocator->Allocate(8, kType);
    // The last block's next points back at the first.
    segment.SetWord(refs.back() + 12, refs.front());
    ScopedLogCapture log;
    if (walk_first) {
      const std::vector<Reference> walked = Walk(allocator);
      // Bounded by the space used over the smallest walked block.
      EXPECT_LE(walked.size(), allocator->used() / 24 + 1);
      EXPECT_GT(walked.size(), refs.size());
    } else {
      allocator->MakeIterable(late);
    }
    EXPECT_TRUE(allocator->IsCorrupt());
    ASSERT_EQ(1u, log.lines().size());
    // Followed by the last system error, in the system's words.
    EXPECT_EQ(0u, log.lines()[0].find(
                      "Corruption detected in shared-memory segment.: "));
    // Everything stops now, and nothing more is reported.
    EXPECT_EQ(0u, allocator->Allocate(8, kType));
    EXPECT_TRUE(Walk(allocator).empty());
    allocator->MakeIterable(late);
    EXPECT_EQ(1u, log.lines().size());
    EXPECT_EQ(1u, segment.Word(28) & 1);
  }
  EXPECT_EQ(2, CountOf(errors, 1));
}

TEST(PersistentMemoryAllocatorTest, ThreadsAllocateAndLinkWhileAnotherWalks) {
  constexpr int kThreads = 8;
  constexpr int kBlocksPerThread = 500;
  constexpr int kSharedBlocks = 1000;
  Segment segment(2 * 1024 * 1024, 4096);
  PersistentMemoryAllocator* allocator = segment.allocator.get();

  // Each writer fills its blocks with its number before linking them.
  std::atomic<int> writers_left{kThreads};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([allocator, t, &writers_left] {
      for (int i = 0; i < kBlocksPerThread; ++i) {
        const uint32_t size = 4 + (i * 37 + t * 11) % 200;
        const Reference ref = allocator->Allocate(size, kType + t);
        memset(allocator->GetBlockData(ref, kType + t, size), t, size);
        allocator->MakeIterable(ref);
      }
      writers_left.fetch_sub(1);
    });
  }
  std::vector<Reference> walked;
  PersistentMemoryAllocator::Iterator iterator(allocator);
  for (;;) {
    // Read before the walk: once it is 0, the drain below is complete.
    const bool writers_done = writers_left.load() == 0;
    uint32_t type = 0;
    while (Reference ref = iterator.GetNext(&type)) {
      const int writer = static_cast<int>(type - kType);
      ASSERT_TRUE(writer >= 0 && writer < kThreads);
      EXPECT_EQ(writer,
                *static_cast<uint8_t*>(allocator->GetBlockData(ref, type, 1)));
      walked.push_back(ref);
    }
    if (writers_done)
      break;
    std::this_thread::yield();
  }
  for (std::thread& thread : threads)
    thread.join();
  EXPECT_EQ(size_t{kThreads * kBlocksPerThread}, walked.size());
  EXPECT_EQ(walked.size(),
            std::set<Reference>(walked.begin(), walked.end()).size());

  // All threads link each of the same blocks at once: each is linked once.
  std::vector<Reference> shared;
  for (int i = 0; i < kSharedBlocks; ++i)
    shared.push_back(allocator->Allocate(8, kType));
  std::atomic<int> arrivals{0};
  threads.clear();
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([allocator, &shared, &arrivals] {
      for (int i = 0; i < kSharedBlocks; ++i) {
        arrivals.fetch_add(1);
        while (arrivals.load() < kThreads * (i + 1))
          std::this_thread::yield();
        allocator->MakeIterable(shared[i]);
      }
    });
  }
  for (std::thread& thread : threads)
    thread.join();
  const std::vector<Reference> all = Walk(allocator);
  EXPECT_EQ(size_t{kThreads * kBlocksPerThread + kSharedBlocks}, all.size());
  EXPECT_EQ(all.size(), std::set<Reference>(all.begin(), all.end()).size());
  EXPECT_FALSE(allocator->IsCorrupt());
}

}  // namespace
}  // namespace base
