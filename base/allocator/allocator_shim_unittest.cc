#include "base/allocator/allocator_shim.h"

#include <windows.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "base/allocator/allocator_dispatch.h"
#include "gtest/gtest.h"

namespace base {
namespace {

constexpr size_t kLimit = kMaxAllocationSize;

// A table in front of the chain that remembers the last block it saw
// allocated and released, and forwards everything.
struct RecordingTable {
  static void* Alloc(const AllocatorDispatch* self, size_t size, void* ctx) {
    last_alloc_size = size;
    ++alloc_count;
    void* block = self->next->alloc_function(self->next, size, ctx);
    last_alloc = block;
    return block;
  }
  static void* AllocZeroed(const AllocatorDispatch* self, size_t count,
                           size_t size, void* ctx) {
    return self->next->alloc_zeroed_function(self->next, count, size, ctx);
  }
  static void* AllocAligned(const AllocatorDispatch* self, size_t alignment,
                            size_t size, void* ctx) {
    return self->next->alloc_aligned_function(self->next, alignment, size,
                                              ctx);
  }
  static void* Realloc(const AllocatorDispatch* self, void* address,
                       size_t size, void* ctx) {
    return self->next->realloc_function(self->next, address, size, ctx);
  }
  static void Free(const AllocatorDispatch* self, void* address, void* ctx) {
    last_free = address;
    self->next->free_function(self->next, address, ctx);
  }
  static size_t SizeEstimate(const AllocatorDispatch* self, void* address,
                             void* ctx) {
    return self->next->get_size_estimate_function(self->next, address, ctx);
  }

  static inline void* last_alloc = nullptr;
  static inline size_t last_alloc_size = 0;
  static inline int alloc_count = 0;
  static inline void* last_free = nullptr;
};

// Puts the recording table in front for the scope of one test.
class ScopedRecordingTable {
 public:
  ScopedRecordingTable() {
    RecordingTable::last_alloc = nullptr;
    RecordingTable::last_alloc_size = 0;
    RecordingTable::alloc_count = 0;
    RecordingTable::last_free = nullptr;
    InsertAllocatorDispatch(&table_);
  }
  ~ScopedRecordingTable() { RemoveAllocatorDispatchForTesting(&table_); }

 private:
  AllocatorDispatch table_ = {
      &RecordingTable::Alloc,   &RecordingTable::AllocZeroed,
      &RecordingTable::AllocAligned, &RecordingTable::Realloc,
      &RecordingTable::Free,    &RecordingTable::SizeEstimate,
      nullptr,                  nullptr,
      nullptr,                  nullptr};
};

bool OnModuleHeap(const void* block) {
  return HeapValidate(GetModuleHeap(), 0, block) != FALSE;
}

TEST(AllocatorShimTest, SizeLimitOfDefaultTable) {
  const AllocatorDispatch* table = GetDefaultAllocatorDispatch();
  EXPECT_EQ(nullptr, table->alloc_function(table, kLimit, nullptr));
  EXPECT_EQ(nullptr, table->alloc_function(table, SIZE_MAX, nullptr));
  // One byte less is the heap's to decide: Windows and Wine grant it with
  // address space alone, nothing is touched.
  void* largest = table->alloc_function(table, kLimit - 1, nullptr);
  ASSERT_NE(nullptr, largest);
  EXPECT_GE(HeapSize(GetModuleHeap(), 0, largest), kLimit - 1);
  table->free_function(table, largest, nullptr);
}

TEST(AllocatorShimTest, ZeroedAllocationChecksProductAndLimit) {
  struct Case {
    size_t count;
    size_t size;
    bool succeeds;
  };
  const Case kCases[] = {
      {size_t{1} << 33, size_t{1} << 32, false},   // wraps to 0
      {(size_t{1} << 63) + 1, 2, false},           // wraps to 2
      {0x10000, 0x8000, false},                    // 2^31: over the limit
      {1, kLimit, false},
      {0, SIZE_MAX, true},                         // zero bytes, no overflow
      {3, 5, true},
      {1000, 16, true},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.count << " x " << c.size);
    void* block = AllocatorCalloc(c.count, c.size);
    EXPECT_EQ(c.succeeds, block != nullptr);
    AllocatorFree(block);
  }
}

TEST(AllocatorShimTest, ZeroedAllocationIsZeroed) {
  // Dirty a block first so that a reused one would show old bytes.
  for (int round = 0; round < 4; ++round) {
    auto* dirty = static_cast<uint8_t*>(AllocatorNew(4000));
    ASSERT_NE(nullptr, dirty);
    memset(dirty, 0xAB, 4000);
    AllocatorFree(dirty);
    auto* zeroed = static_cast<uint8_t*>(AllocatorCalloc(1000, 4));
    ASSERT_NE(nullptr, zeroed);
    for (int i = 0; i < 4000; ++i)
      ASSERT_EQ(0, zeroed[i]) << i;
    AllocatorFree(zeroed);
  }
}

TEST(AllocatorShimTest, ReallocateEdges) {
  // A null address allocates.
  auto* block = static_cast<char*>(AllocatorRealloc(nullptr, 16));
  ASSERT_NE(nullptr, block);
  EXPECT_TRUE(OnModuleHeap(block));
  memcpy(block, "0123456789abcdef", 16);

  // Growing keeps the contents.
  block = static_cast<char*>(AllocatorRealloc(block, 100000));
  ASSERT_NE(nullptr, block);
  EXPECT_EQ(0, memcmp(block, "0123456789abcdef", 16));

  // Too large: fails and leaves the block alone.
  EXPECT_EQ(nullptr, AllocatorRealloc(block, kLimit));
  EXPECT_TRUE(OnModuleHeap(block));
  EXPECT_EQ(0, memcmp(block, "0123456789abcdef", 16));

  // Size 0 frees the block.
  EXPECT_EQ(nullptr, AllocatorRealloc(block, 0));
  EXPECT_EQ(nullptr, AllocatorRealloc(nullptr, kLimit));
}

TEST(AllocatorShimTest, SizeEstimateRoundsHeapSize) {
  const AllocatorDispatch* table = GetDefaultAllocatorDispatch();
  EXPECT_EQ(0u, table->get_size_estimate_function(table, nullptr, nullptr));
  for (size_t size : {1, 7, 8, 9, 24, 100, 4097}) {
    void* block = AllocatorNew(size);
    ASSERT_NE(nullptr, block);
    const size_t heap_size = HeapSize(GetModuleHeap(), 0, block);
    const size_t estimate =
        table->get_size_estimate_function(table, block, nullptr);
    EXPECT_EQ((heap_size + 15) & ~size_t{7}, estimate) << size;
    if (heap_size == 1) {
      EXPECT_EQ(16u, estimate);
    }
    AllocatorFree(block);
  }
}

struct Widget {
  int values[10] = {};
};

struct alignas(64) WideWidget {
  char bytes[100];
};

TEST(AllocatorShimTest, TableInFrontSeesObjects) {
  ScopedRecordingTable recording;

  // Addresses are compared as numbers: the blocks are gone by then.
  auto widget = std::make_unique<Widget>();
  EXPECT_EQ(widget.get(), RecordingTable::last_alloc);
  EXPECT_EQ(sizeof(Widget), RecordingTable::last_alloc_size);
  const uintptr_t address = reinterpret_cast<uintptr_t>(widget.get());
  widget.reset();
  EXPECT_EQ(address, reinterpret_cast<uintptr_t>(RecordingTable::last_free));

  auto array = std::make_unique<int[]>(50);
  EXPECT_EQ(static_cast<void*>(array.get()), RecordingTable::last_alloc);
  const uintptr_t array_address = reinterpret_cast<uintptr_t>(array.get());
  array.reset();
  EXPECT_EQ(array_address,
            reinterpret_cast<uintptr_t>(RecordingTable::last_free));

  Widget* loose = new (std::nothrow) Widget;
  const uintptr_t loose_address = reinterpret_cast<uintptr_t>(loose);
  EXPECT_EQ(loose, RecordingTable::last_alloc);
  delete loose;
  EXPECT_EQ(loose_address,
            reinterpret_cast<uintptr_t>(RecordingTable::last_free));

  // Over-aligned objects sit inside a larger block of the chain.
  auto wide = std::make_unique<WideWidget>();
  auto* block = static_cast<char*>(RecordingTable::last_alloc);
  EXPECT_GE(RecordingTable::last_alloc_size, sizeof(WideWidget));
  EXPECT_GE(reinterpret_cast<char*>(wide.get()), block + sizeof(void*));
  EXPECT_LE(reinterpret_cast<char*>(wide.get()) + sizeof(WideWidget),
            block + RecordingTable::last_alloc_size);
  wide.reset();
  EXPECT_EQ(block, RecordingTable::last_free);
}

TEST(AllocatorShimTest, AlignedObjectsAreAlignedAndOnModuleHeap) {
  for (size_t alignment : {16, 32, 64, 256, 4096}) {
    for (size_t size : {1, 63, 64, 5000}) {
      SCOPED_TRACE(testing::Message() << alignment << "/" << size);
      void* object = operator new[](size, std::align_val_t(alignment));
      EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(object) % alignment);
      memset(object, 0x5A, size);
      EXPECT_TRUE(HeapValidate(GetModuleHeap(), 0, nullptr));
      operator delete[](object, std::align_val_t(alignment));
    }
  }
  void* nothrow_object =
      operator new(24, std::align_val_t(128), std::nothrow);
  ASSERT_NE(nullptr, nothrow_object);
  EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(nothrow_object) % 128);
  operator delete(nothrow_object, std::align_val_t(128), std::nothrow);
}

TEST(AllocatorShimTest, ObjectsLiveOnModuleHeapNotRuntimeHeap) {
  auto object = std::make_unique<std::array<char, 300>>();
  EXPECT_TRUE(OnModuleHeap(object.get()));
  EXPECT_GE(HeapSize(GetModuleHeap(), 0, object.get()), 300u);
  std::string text(1000, 'x');
  EXPECT_TRUE(OnModuleHeap(text.data()));
  std::vector<int> numbers(77);
  EXPECT_TRUE(OnModuleHeap(numbers.data()));

  // The runtime's own blocks stay on its heap.
  void* runtime_block = malloc(300);
  EXPECT_FALSE(OnModuleHeap(runtime_block));
  free(runtime_block);
}

int g_handler_calls = 0;
void GiveUpOnSecondCall() {
  if (++g_handler_calls == 2)
    std::set_new_handler(nullptr);
}

TEST(AllocatorShimTest, NothrowNewAsksNewHandlerThenReturnsNull) {
  g_handler_calls = 0;
  std::set_new_handler(&GiveUpOnSecondCall);
  void* object = operator new(kLimit, std::nothrow);
  std::set_new_handler(nullptr);
  EXPECT_EQ(nullptr, object);
  EXPECT_EQ(2, g_handler_calls);
  EXPECT_EQ(nullptr, operator new[](SIZE_MAX - 8, std::align_val_t(64),
                                     std::nothrow));
}

TEST(AllocatorShimDeathTest, FailedNewEndsProcess) {
  EXPECT_DEATH(
      {
        void* object = operator new(kLimit);
        fprintf(stderr, "%p", object);
      },
      "");
}

TEST(AllocatorShimTest, ThreadsAllocateAndFreeConcurrently) {
  constexpr int kThreads = 8;
  constexpr int kRounds = 20000;
  std::vector<std::thread> threads;
  std::vector<int> failures(kThreads, 0);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &failures] {
      std::mt19937 random(t);
      std::vector<std::pair<uint8_t*, size_t>> live;
      for (int round = 0; round < kRounds; ++round) {
        const size_t size = 1 + random() % 2000;
        const uint8_t fill = static_cast<uint8_t>(t * 31 + round);
        uint8_t* block = nullptr;
        switch (random() % 3) {
          case 0:
            block = static_cast<uint8_t*>(AllocatorNew(size));
            break;
          case 1:
            block = new uint8_t[size];
            break;
          default:
            block = static_cast<uint8_t*>(AllocatorCalloc(size, 1));
            break;
        }
        memset(block, fill, size);
        live.emplace_back(block, size);
        if (live.size() > 64 || random() % 2) {
          const size_t victim = random() % live.size();
          auto [old_block, old_size] = live[victim];
          if (old_block[0] != old_block[old_size - 1])
            ++failures[t];
          // Both entry points release into the same heap.
          if (random() % 2)
            delete[] old_block;
          else
            AllocatorFree(old_block);
          live[victim] = live.back();
          live.pop_back();
        }
      }
      for (auto [block, size] : live)
        AllocatorFree(block);
    });
  }
  for (std::thread& thread : threads)
    thread.join();
  for (int t = 0; t < kThreads; ++t)
    EXPECT_EQ(0, failures[t]) << t;
  EXPECT_TRUE(HeapValidate(GetModuleHeap(), 0, nullptr));
}

}  // namespace
}  // namespace base
