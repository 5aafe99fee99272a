#include "base/allocator/thread_block_cache.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <random>
#include <set>
#include <thread>
#include <vector>

#include "base/allocator/allocator_shim.h"
#include "gtest/gtest.h"

namespace base {
namespace {

HANDLE ModuleHeap() {
  return GetModuleHeap();
}

// Busy blocks of exactly `heap_size` bytes on the module heap: cached blocks
// count, since they stay allocated as far as the heap knows.
size_t CountBusyBlocks(size_t heap_size) {
  HANDLE heap = ModuleHeap();
  HeapLock(heap);
  PROCESS_HEAP_ENTRY entry = {};
  size_t count = 0;
  while (HeapWalk(heap, &entry)) {
    if ((entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) && entry.cbData == heap_size)
      ++count;
  }
  HeapUnlock(heap);
  return count;
}

// Runs `body` on a thread of its own and waits until the thread has ended,
// its exit callbacks included.
template <class Body>
void RunOnThread(const Body& body) {
  std::thread thread(body);
  thread.join();
}

// Takes every list of the class of `request` out of the depot, and shows
// that cached blocks are plain heap blocks by freeing them straight there.
void EmptyDepot(size_t request) {
  RunOnThread([request] {
    while (ThreadBlockCache::DepotBlockCountForTesting(request) > 0) {
      for (uint32_t i = 0; i < ThreadBlockCache::CapacityForTesting(request);
           ++i) {
        EXPECT_TRUE(HeapFree(ModuleHeap(), 0, AllocatorNew(request)));
      }
    }
  });
}

TEST(ThreadBlockCacheTest, SmallRequestsGetClassSizedBlocksReusedOnSameThread) {
  struct Case {
    size_t request;
    size_t heap_size;
    size_t same_class_request;
  };
  const Case kCases[] = {
      {0, 16, 16},   {1, 16, 9},     {16, 16, 1},    {17, 32, 32},
      {40, 48, 33},  {100, 112, 97}, {255, 256, 241}, {256, 256, 250},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.request);
    void* block = AllocatorNew(c.request);
    ASSERT_NE(nullptr, block);
    EXPECT_EQ(c.heap_size, HeapSize(ModuleHeap(), 0, block));
    const size_t cached = ThreadBlockCache::CachedBlockCountForTesting();
    AllocatorFree(block);
    EXPECT_EQ(cached + 1, ThreadBlockCache::CachedBlockCountForTesting());
    // Still a live block of the heap while it waits in the cache.
    EXPECT_TRUE(HeapValidate(ModuleHeap(), 0, block));
    void* again = AllocatorNew(c.same_class_request);
    EXPECT_EQ(block, again);
    EXPECT_EQ(cached, ThreadBlockCache::CachedBlockCountForTesting());
    AllocatorFree(again);
  }
}

TEST(ThreadBlockCacheTest, LargerBlocksBypassTheCache) {
  const size_t cached = ThreadBlockCache::CachedBlockCountForTesting();
  void* block = AllocatorNew(257);
  ASSERT_NE(nullptr, block);
  EXPECT_EQ(257u, HeapSize(ModuleHeap(), 0, block));
  AllocatorFree(block);
  EXPECT_EQ(cached, ThreadBlockCache::CachedBlockCountForTesting());
}

TEST(ThreadBlockCacheTest, ZeroedAllocationFromDirtyCachedBlockIsZeroed) {
  struct Case {
    size_t count;
    size_t size;
  };
  const Case kCases[] = {{1, 1}, {3, 8}, {8, 8}, {1, 200}, {16, 16}};
  for (const Case& c : kCases) {
    const size_t total = c.count * c.size;
    SCOPED_TRACE(total);
    auto* dirty = static_cast<uint8_t*>(AllocatorNew(total));
    ASSERT_NE(nullptr, dirty);
    memset(dirty, 0xAB, HeapSize(ModuleHeap(), 0, dirty));
    AllocatorFree(dirty);
    auto* zeroed = static_cast<uint8_t*>(AllocatorCalloc(c.count, c.size));
    ASSERT_EQ(dirty, zeroed);  // The dirty block came back from the cache.
    for (size_t i = 0; i < total; ++i)
      ASSERT_EQ(0, zeroed[i]) << i;
    AllocatorFree(zeroed);
  }
}

TEST(ThreadBlockCacheTest, ReallocateKeepsSmallBlocksCacheable) {
  auto* block = static_cast<char*>(AllocatorNew(300));
  ASSERT_NE(nullptr, block);
  memcpy(block, "contents", 9);
  // Shrunk to a class size, so that freeing it can cache it.
  block = static_cast<char*>(AllocatorRealloc(block, 40));
  ASSERT_NE(nullptr, block);
  EXPECT_EQ(48u, HeapSize(ModuleHeap(), 0, block));
  EXPECT_STREQ("contents", block);

  const size_t cached = ThreadBlockCache::CachedBlockCountForTesting();
  EXPECT_EQ(nullptr, AllocatorRealloc(block, 0));
  EXPECT_EQ(cached + 1, ThreadBlockCache::CachedBlockCountForTesting());
  EXPECT_EQ(block, AllocatorRealloc(nullptr, 48));
  AllocatorFree(block);
}

TEST(ThreadBlockCacheTest, BlockFreedOnAnotherThreadJoinsThatThreadsCache) {
  void* block = AllocatorNew(72);
  ASSERT_NE(nullptr, block);
  void* reused = nullptr;
  size_t cached_there = 0;
  RunOnThread([&] {
    AllocatorFree(block);
    cached_there = ThreadBlockCache::CachedBlockCountForTesting();
    reused = AllocatorNew(80);
    AllocatorFree(reused);
  });
  EXPECT_EQ(1u, cached_there);
  EXPECT_EQ(block, reused);
}

TEST(ThreadBlockCacheTest, ThreadExitReturnsCachedBlocksToHeap) {
  // 208 bytes: a class nothing else here uses.
  constexpr size_t kBlocks = 20;
  const size_t before = CountBusyBlocks(208);
  size_t while_cached = 0;
  RunOnThread([&] {
    std::vector<void*> blocks;
    for (size_t i = 0; i < kBlocks; ++i)
      blocks.push_back(AllocatorNew(200));
    for (void* block : blocks)
      AllocatorFree(block);
    while_cached = CountBusyBlocks(208);
  });
  EXPECT_EQ(before + kBlocks, while_cached);
  EXPECT_EQ(before, CountBusyBlocks(208));
  EXPECT_TRUE(HeapValidate(ModuleHeap(), 0, nullptr));
}

TEST(ThreadBlockCacheTest, FullListsGoToDepotThenToHeap) {
  constexpr size_t kRequest = 230;  // 240-byte blocks, used by nothing else.
  const size_t capacity = ThreadBlockCache::CapacityForTesting(kRequest);
  EmptyDepot(kRequest);
  const size_t busy_before = CountBusyBlocks(240);

  // One full list more than the depot holds, and one block over.
  std::set<void*> freed;
  RunOnThread([&] {
    std::vector<void*> blocks;
    for (size_t i = 0; i < (ThreadBlockCache::kDepotLists + 1) * capacity + 1;
         ++i) {
      blocks.push_back(AllocatorNew(kRequest));
    }
    freed.insert(blocks.begin(), blocks.end());
    const size_t cached = ThreadBlockCache::CachedBlockCountForTesting();
    for (void* block : blocks)
      AllocatorFree(block);
    EXPECT_EQ(cached + 1, ThreadBlockCache::CachedBlockCountForTesting());
  });
  const size_t depot_lists = ThreadBlockCache::kDepotLists;
  EXPECT_EQ(depot_lists * capacity,
            ThreadBlockCache::DepotBlockCountForTesting(kRequest));
  // The list beyond the depot and the exited thread's block went back.
  EXPECT_EQ(busy_before + depot_lists * capacity, CountBusyBlocks(240));

  // Another thread refills from the depot instead of the heap.
  RunOnThread([&] {
    std::vector<void*> blocks;
    for (size_t i = 0; i < capacity; ++i)
      blocks.push_back(AllocatorNew(kRequest));
    for (void* block : blocks)
      EXPECT_EQ(1u, freed.count(block));
    for (void* block : blocks)
      AllocatorFree(block);
  });
  EXPECT_EQ((depot_lists - 1) * capacity,
            ThreadBlockCache::DepotBlockCountForTesting(kRequest));
}

TEST(ThreadBlockCacheTest, AllocationKeepsThreadsLastError) {
  // A fresh thread also makes its cache on the way.
  DWORD seen = 0;
  RunOnThread([&] {
    SetLastError(4321);
    void* block = AllocatorNew(24);
    AllocatorFree(block);
    block = AllocatorCalloc(3, 8);
    block = AllocatorRealloc(block, 90);
    AllocatorFree(block);
    seen = GetLastError();
  });
  EXPECT_EQ(4321u, seen);
}

TEST(ThreadBlockCacheTest, ThreadsExchangingBlocksKeepHeapValid) {
  constexpr int kThreads = 8;
  constexpr int kRounds = 40000;
  constexpr size_t kSlots = 64;
  // Blocks in flight between threads; each is filled with one byte value
  // and stores its size in front, so whoever frees it can check it.
  std::atomic<uint8_t*> slots[kSlots] = {};
  std::atomic<int> corrupt{0};
  auto check_and_free = [&](uint8_t* block) {
    if (!block)
      return;
    size_t size;
    memcpy(&size, block, sizeof(size));
    for (size_t i = sizeof(size); i < size; ++i) {
      if (block[i] != block[sizeof(size)]) {
        ++corrupt;
        break;
      }
    }
    AllocatorFree(block);
  };
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      std::mt19937 random(t + 1);
      for (int round = 0; round < kRounds; ++round) {
        const size_t size = sizeof(size_t) + 1 + random() % 400;
        uint8_t* block = nullptr;
        switch (random() % 4) {
          case 0:
            block = static_cast<uint8_t*>(AllocatorNew(size));
            break;
          case 1:
            block = new uint8_t[size];
            break;
          case 2:
            block = static_cast<uint8_t*>(AllocatorCalloc(1, size));
            for (size_t i = 0; i < size; ++i) {
              if (block[i] != 0) {
                ++corrupt;
                break;
              }
            }
            break;
          default:
            block = static_cast<uint8_t*>(
                AllocatorRealloc(AllocatorNew(1 + random() % 300), size));
            break;
        }
        memcpy(block, &size, sizeof(size));
        memset(block + sizeof(size), static_cast<uint8_t>(round),
               size - sizeof(size));
        // Half the blocks change hands, to be freed by whichever thread
        // takes them out next.
        if (random() % 2)
          check_and_free(slots[random() % kSlots].exchange(block));
        else
          check_and_free(block);
      }
    });
  }
  for (std::thread& thread : threads)
    thread.join();
  for (auto& slot : slots)
    check_and_free(slot.exchange(nullptr));
  EXPECT_EQ(0, corrupt.load());
  EXPECT_TRUE(HeapValidate(ModuleHeap(), 0, nullptr));
}

}  // namespace
}  // namespace base
