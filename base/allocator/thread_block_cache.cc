#include "base/allocator/thread_block_cache.h"

#include <windows.h>

#include <array>
#include <atomic>
#include <new>

#include "base/allocator/allocator_shim.h"

namespace base {

// A cached block's first bytes link it to the next one of its class; the
// head of a list in the depot also links to the next list. The smallest
// class has room for both.
struct ThreadBlockCache::FreeBlock {
  FreeBlock* next;
  FreeBlock* next_list;
};

// Full lists of one class, moved here whole so that the lock is taken once
// per list, not once per block.
struct ThreadBlockCache::Depot {
  bool Put(FreeBlock* list) {
    AcquireSRWLockExclusive(&lock_);
    const bool kept = count_.load(std::memory_order_relaxed) < kDepotLists;
    if (kept) {
      list->next_list = lists_;
      lists_ = list;
      count_.fetch_add(1, std::memory_order_relaxed);
    }
    ReleaseSRWLockExclusive(&lock_);
    return kept;
  }

  FreeBlock* Take() {
    // Read without the lock: a thread that allocates more than it frees
    // would otherwise take it on every miss, only to find the depot empty.
    if (count_.load(std::memory_order_relaxed) == 0)
      return nullptr;
    AcquireSRWLockExclusive(&lock_);
    FreeBlock* list = lists_;
    if (list) {
      lists_ = list->next_list;
      count_.fetch_sub(1, std::memory_order_relaxed);
    }
    ReleaseSRWLockExclusive(&lock_);
    return list;
  }

  // All zero is the unlocked, empty state.
  SRWLOCK lock_;
  FreeBlock* lists_;
  std::atomic<uint32_t> count_;
};

constinit ThreadBlockCache::Depot
    ThreadBlockCache::depots_[ThreadBlockCache::kClassCount] = {};

namespace {

// Left in a thread's slot once its cache is gone, so that a block freed by a
// later exit callback goes to the heap instead of into a new cache that no
// one would release.
ThreadBlockCache* const kRetired =
    reinterpret_cast<ThreadBlockCache*>(uintptr_t{1});

// A plain Windows TLS index rather than base's thread slots or thread_local:
// the allocator sits below both, and both allocate. All ones until first use.
constinit std::atomic<DWORD> g_tls_index{TLS_OUT_OF_INDEXES};

DWORD TlsIndex() {
  DWORD index = g_tls_index.load(std::memory_order_acquire);
  if (index != TLS_OUT_OF_INDEXES)
    return index;
  DWORD own = TlsAlloc();
  // Without an index every call goes to the heap, as it would without us.
  if (own == TLS_OUT_OF_INDEXES)
    return own;
  if (g_tls_index.compare_exchange_strong(index, own,
                                          std::memory_order_acq_rel)) {
    return own;
  }
  // Another thread published its index first; `index` now holds it.
  TlsFree(own);
  return index;
}

// TlsGetValue and TlsSetValue clear the thread's last error, and callers
// read it after building a message, which allocates: keep it.
void* ReadSlot(DWORD index) {
  const DWORD error = GetLastError();
  void* value = TlsGetValue(index);
  SetLastError(error);
  return value;
}

void WriteSlot(DWORD index, void* value) {
  const DWORD error = GetLastError();
  TlsSetValue(index, value);
  SetLastError(error);
}

// Blocks of a class one thread keeps: few of the large ones, many of the
// small ones, which objects are made of. A table, as a division on every
// free would cost as much as the rest of it.
constexpr auto kCapacities = [] {
  std::array<uint32_t, ThreadBlockCache::kLargestBlock /
                           ThreadBlockCache::kGranule>
      capacities = {};
  for (size_t i = 0; i < capacities.size(); ++i) {
    capacities[i] = ThreadBlockCache::kBytesPerClass /
                    ((i + 1) * ThreadBlockCache::kGranule);
  }
  return capacities;
}();

uint32_t CapacityOf(size_t class_index) {
  return kCapacities[class_index];
}

void ReleaseList(HANDLE heap, void* list) {
  while (list) {
    void* next = *static_cast<void**>(list);
    HeapFree(heap, 0, list);
    list = next;
  }
}

// Requests of 1 to 16 bytes (and 0, which still needs an address of its
// own) share the first class.
size_t ClassOfRequest(size_t size) {
  return size == 0 ? 0 : (size - 1) / ThreadBlockCache::kGranule;
}

void NTAPI ThreadBlockCacheExitCallback(PVOID, DWORD reason, PVOID) {
  // Not at process detach: the other threads were stopped wherever they
  // stood, perhaps holding the heap lock, and the heap ends with the process.
  if (reason == DLL_THREAD_DETACH)
    ThreadBlockCache::OnThreadExit();
}

}  // namespace

// The loader calls the module's ".CRT$XL?" callbacks in name order; "XLY"
// comes after the runtime's own and after base's thread slots ("XLB"), whose
// destructors still free blocks as the thread ends.
extern "C" {
__attribute__((used, section(".CRT$XLY")))
PIMAGE_TLS_CALLBACK base_thread_block_cache_exit_callback =
    ThreadBlockCacheExitCallback;
}

// static
void* ThreadBlockCache::Allocate(size_t size) {
  if (size <= kLargestBlock) {
    if (ThreadBlockCache* cache = ForCurrentThread()) {
      if (void* block = cache->Take(ClassOfRequest(size)))
        return block;
    }
  }
  return HeapAlloc(GetModuleHeap(), 0, BlockSizeFor(size));
}

// static
void ThreadBlockCache::Free(void* block) {
  HANDLE heap = GetModuleHeap();
  // Only a block whose heap size is exactly a class size may be handed out
  // again for any request of that class. A failed HeapSize reads all ones.
  const SIZE_T heap_size = HeapSize(heap, 0, block);
  if (heap_size != 0 && heap_size <= kLargestBlock &&
      heap_size % kGranule == 0) {
    if (ThreadBlockCache* cache = ForCurrentThread()) {
      cache->Keep(block, heap_size / kGranule - 1);
      return;
    }
  }
  HeapFree(heap, 0, block);
}

// static
size_t ThreadBlockCache::BlockSizeFor(size_t size) {
  if (size > kLargestBlock)
    return size;
  return (ClassOfRequest(size) + 1) * kGranule;
}

// static
void ThreadBlockCache::OnThreadExit() {
  const DWORD index = g_tls_index.load(std::memory_order_acquire);
  if (index == TLS_OUT_OF_INDEXES)
    return;
  auto* cache = static_cast<ThreadBlockCache*>(ReadSlot(index));
  WriteSlot(index, kRetired);
  if (!cache || cache == kRetired)
    return;
  cache->ReleaseAll();
  HeapFree(GetModuleHeap(), 0, cache);
}

// static
size_t ThreadBlockCache::CachedBlockCountForTesting() {
  ThreadBlockCache* cache = ForCurrentThread();
  size_t count = 0;
  for (size_t i = 0; cache && i < kClassCount; ++i)
    count += cache->counts_[i];
  return count;
}

// static
size_t ThreadBlockCache::DepotBlockCountForTesting(size_t size) {
  const size_t class_index = ClassOfRequest(size);
  return depots_[class_index].count_.load(std::memory_order_relaxed) *
         CapacityOf(class_index);
}

// static
uint32_t ThreadBlockCache::CapacityForTesting(size_t size) {
  return CapacityOf(ClassOfRequest(size));
}

// static
ThreadBlockCache* ThreadBlockCache::ForCurrentThread() {
  const DWORD index = TlsIndex();
  if (index == TLS_OUT_OF_INDEXES)
    return nullptr;
  auto* cache = static_cast<ThreadBlockCache*>(ReadSlot(index));
  if (cache)
    return cache == kRetired ? nullptr : cache;
  // Straight from the heap: the tables of the dispatch chain must not see
  // the allocator's own bookkeeping. The thread's slot owns it from here on;
  // OnThreadExit frees it.
  void* memory = HeapAlloc(GetModuleHeap(), 0, sizeof(ThreadBlockCache));
  if (!memory)
    return nullptr;
  cache = new (memory) ThreadBlockCache{};
  WriteSlot(index, cache);
  return cache;
}

void* ThreadBlockCache::Take(size_t class_index) {
  FreeBlock* block = heads_[class_index];
  if (!block) {
    // Lists in the depot are always full ones.
    block = depots_[class_index].Take();
    if (!block)
      return nullptr;
    counts_[class_index] = CapacityOf(class_index);
  }
  heads_[class_index] = block->next;
  --counts_[class_index];
  return block;
}

void ThreadBlockCache::Keep(void* block, size_t class_index) {
  static_assert(sizeof(FreeBlock) <= kGranule);
  if (counts_[class_index] >= CapacityOf(class_index)) {
    // The whole list moves on at once, so that the depot lock is taken once
    // per list and the lists there are always full.
    FreeBlock* list = heads_[class_index];
    heads_[class_index] = nullptr;
    counts_[class_index] = 0;
    if (!depots_[class_index].Put(list))
      ReleaseList(GetModuleHeap(), list);
  }
  heads_[class_index] = new (block) FreeBlock{heads_[class_index], nullptr};
  ++counts_[class_index];
}

void ThreadBlockCache::ReleaseAll() {
  HANDLE heap = GetModuleHeap();
  for (size_t i = 0; i < kClassCount; ++i) {
    ReleaseList(heap, heads_[i]);
    heads_[i] = nullptr;
    counts_[i] = 0;
  }
}

}  // namespace base
