#include "base/allocator/allocator_dispatch.h"

#include <windows.h>

#include <atomic>
#include <cstring>

#include "base/allocator/allocator_shim.h"
#include "base/allocator/thread_block_cache.h"

namespace base {

namespace {

void* HeapAllocate(const AllocatorDispatch*, size_t size, void*) {
  if (size >= kMaxAllocationSize)
    return nullptr;
  return ThreadBlockCache::Allocate(size);
}

void* HeapAllocateZeroed(const AllocatorDispatch*, size_t count, size_t size,
                         void*) {
  const size_t total = count * size;
  // A wrapped product could be small enough to pass the size limit.
  if (size != 0 && total / size != count)
    return nullptr;
  if (total >= kMaxAllocationSize)
    return nullptr;
  // A block from the cache holds whatever its last user left there.
  void* block = ThreadBlockCache::Allocate(total);
  if (block)
    memset(block, 0, total);
  return block;
}

// Nothing in the module asks the chain for aligned blocks: aligned object
// allocation over-allocates through the plain entry instead.
void* HeapAllocateAligned(const AllocatorDispatch*, size_t alignment,
                          size_t size, void*) {
  volatile size_t requested_alignment = alignment;
  volatile size_t requested_size = size;
  (void)requested_alignment;
  (void)requested_size;
  __builtin_trap();
}

void* HeapReallocate(const AllocatorDispatch* self, void* address, size_t size,
                     void* context) {
  if (!address)
    return HeapAllocate(self, size, context);
  if (size == 0) {
    ThreadBlockCache::Free(address);
    return nullptr;
  }
  if (size >= kMaxAllocationSize)
    return nullptr;
  return HeapReAlloc(GetModuleHeap(), 0, address,
                     ThreadBlockCache::BlockSizeFor(size));
}

void HeapRelease(const AllocatorDispatch*, void* address, void*) {
  if (address)
    ThreadBlockCache::Free(address);
}

size_t HeapSizeEstimate(const AllocatorDispatch*, void* address, void*) {
  if (!address)
    return 0;
  return (HeapSize(GetModuleHeap(), 0, address) + 15) & ~size_t{7};
}

constexpr AllocatorDispatch kDefaultDispatch = {
    &HeapAllocate,   &HeapAllocateZeroed, &HeapAllocateAligned,
    &HeapReallocate, &HeapRelease,        &HeapSizeEstimate,
    nullptr,         nullptr,             nullptr,
    nullptr,
};

// Constant-initialised, so allocations made by static constructors of any
// translation unit already find the chain.
constinit std::atomic<const AllocatorDispatch*> g_chain_head{
    &kDefaultDispatch};

}  // namespace

const AllocatorDispatch* GetDefaultAllocatorDispatch() {
  return &kDefaultDispatch;
}

const AllocatorDispatch* GetAllocatorDispatchChainHead() {
  return g_chain_head.load(std::memory_order_acquire);
}

void InsertAllocatorDispatch(AllocatorDispatch* dispatch) {
  const AllocatorDispatch* head = g_chain_head.load(std::memory_order_acquire);
  do {
    dispatch->next = head;
  } while (!g_chain_head.compare_exchange_weak(head, dispatch,
                                               std::memory_order_acq_rel,
                                               std::memory_order_acquire));
}

void RemoveAllocatorDispatchForTesting(AllocatorDispatch* dispatch) {
  const AllocatorDispatch* expected = dispatch;
  if (!g_chain_head.compare_exchange_strong(expected, dispatch->next,
                                            std::memory_order_acq_rel)) {
    __builtin_trap();  // Only the head can be taken off.
  }
}

}  // namespace base
