#include "base/allocator/allocator_shim.h"

#include <windows.h>

#include <atomic>

#include "base/allocator/allocator_dispatch.h"

namespace base {

namespace {

// The heap lives for the whole process (or until the module's unload hook
// destroys it), so it is held in a plain word rather than a scoped owner
// whose destructor would run while static objects still own blocks in it.
constinit std::atomic<HANDLE> g_module_heap{nullptr};

}  // namespace

void* AllocatorNew(size_t size) {
  const AllocatorDispatch* head = GetAllocatorDispatchChainHead();
  return head->alloc_function(head, size, nullptr);
}

void* AllocatorCalloc(size_t count, size_t size) {
  const AllocatorDispatch* head = GetAllocatorDispatchChainHead();
  return head->alloc_zeroed_function(head, count, size, nullptr);
}

void* AllocatorRealloc(void* address, size_t size) {
  const AllocatorDispatch* head = GetAllocatorDispatchChainHead();
  return head->realloc_function(head, address, size, nullptr);
}

void AllocatorFree(void* address) {
  const AllocatorDispatch* head = GetAllocatorDispatchChainHead();
  head->free_function(head, address, nullptr);
}

int32_t GetAllocatorModeSetting() {
  return 0;
}

void* GetModuleHeap() {
  HANDLE heap = g_module_heap.load(std::memory_order_acquire);
  if (heap)
    return heap;
  CreateModuleHeap();
  return g_module_heap.load(std::memory_order_acquire);
}

void CreateModuleHeap() {
  if (g_module_heap.load(std::memory_order_acquire))
    return;
  // Serialised (flags 0): every thread allocates and frees at any time.
  HANDLE heap = HeapCreate(0, 0, 0);
  if (!heap)
    OnAllocationFailure(0);
  HANDLE expected = nullptr;
  // Two threads may race here on the first allocation; the loser's heap has
  // never handed out a block, so it can go at once.
  if (!g_module_heap.compare_exchange_strong(expected, heap,
                                             std::memory_order_acq_rel)) {
    HeapDestroy(heap);
  }
}

void DestroyModuleHeap() {
  HANDLE heap = g_module_heap.exchange(nullptr, std::memory_order_acq_rel);
  if (heap)
    HeapDestroy(heap);
}

__attribute__((noinline)) void OnAllocationFailure(size_t size) {
  volatile size_t requested_size = size;
  (void)requested_size;
  __builtin_trap();
}

}  // namespace base
