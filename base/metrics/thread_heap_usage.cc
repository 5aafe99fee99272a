#include "base/metrics/thread_heap_usage.h"

#include <windows.h>

#include <atomic>
#include <memory>

#include "base/logging.h"

namespace base {

namespace {

// Slot values other than a record: while the record is being made on the
// thread (its own allocation passes through the hooks), and after the
// thread's end destroyed it (the last frees of the thread still do).
constexpr uintptr_t kRecordBeingMade = static_cast<uintptr_t>(-2);
constexpr uintptr_t kRecordDestroyed = static_cast<uintptr_t>(-1);

// A plain Windows TLS index, as every hook reads it: base's thread slots
// allocate, and their values are gone before the last frees of a thread.
// All ones until the hooks are prepared.
constinit std::atomic<DWORD> g_tls_index{TLS_OUT_OF_INDEXES};

constinit std::atomic<bool> g_hooks_inserted{false};

// TlsGetValue and TlsSetValue clear the thread's last error, and the hooks
// run inside any allocation, also between a failed call and its
// GetLastError: keep it.
uintptr_t ReadSlot(DWORD index) {
  const DWORD error = GetLastError();
  void* value = TlsGetValue(index);
  SetLastError(error);
  return reinterpret_cast<uintptr_t>(value);
}

void WriteSlot(DWORD index, uintptr_t value) {
  const DWORD error = GetLastError();
  TlsSetValue(index, reinterpret_cast<void*>(value));
  SetLastError(error);
}

void PrepareThreadRecords() {
  DWORD index = g_tls_index.load(std::memory_order_acquire);
  if (index != TLS_OUT_OF_INDEXES)
    return;
  DWORD own = TlsAlloc();
  CHECK(own != TLS_OUT_OF_INDEXES) << "no Windows TLS index for heap usage";
  if (!g_tls_index.compare_exchange_strong(index, own,
                                           std::memory_order_acq_rel)) {
    TlsFree(own);
  }
}

size_t UsableSize(const AllocatorDispatch* next, void* address) {
  if (!address)
    return 0;
  return next->get_size_estimate_function(next, address, nullptr);
}

void RecordAlloc(const AllocatorDispatch* next, void* address, size_t size) {
  ThreadHeapUsage* usage = GetThreadHeapUsage();
  if (!usage)
    return;
  ++usage->alloc_ops;
  const size_t usable = UsableSize(next, address);
  if (size == 0 || usable == 0) {
    usage->alloc_bytes += size;
    return;
  }
  usage->alloc_bytes += usable;
  if (usable > size)
    usage->alloc_overhead_bytes += usable - size;
  // The counters start at zero in every measured scope, so a scope that
  // frees before it allocates has freed more than allocated: no new peak.
  if (usage->alloc_bytes > usage->free_bytes &&
      usage->alloc_bytes - usage->free_bytes > usage->max_allocated_bytes) {
    usage->max_allocated_bytes = usage->alloc_bytes - usage->free_bytes;
  }
}

void RecordFree(const AllocatorDispatch* next, void* address) {
  if (!address)
    return;
  ThreadHeapUsage* usage = GetThreadHeapUsage();
  if (!usage)
    return;
  ++usage->free_ops;
  usage->free_bytes += UsableSize(next, address);
}

void* HookAlloc(const AllocatorDispatch* self, size_t size, void* context) {
  const AllocatorDispatch* next = self->next;
  void* address = next->alloc_function(next, size, context);
  if (address)
    RecordAlloc(next, address, size);
  return address;
}

void* HookAllocZeroed(const AllocatorDispatch* self, size_t count, size_t size,
                      void* context) {
  const AllocatorDispatch* next = self->next;
  void* address = next->alloc_zeroed_function(next, count, size, context);
  // A block was given, so the product did not overflow.
  if (address)
    RecordAlloc(next, address, count * size);
  return address;
}

void* HookAllocAligned(const AllocatorDispatch* self, size_t alignment,
                       size_t size, void* context) {
  const AllocatorDispatch* next = self->next;
  void* address = next->alloc_aligned_function(next, alignment, size, context);
  if (address)
    RecordAlloc(next, address, size);
  return address;
}

void* HookRealloc(const AllocatorDispatch* self, void* address, size_t size,
                  void* context) {
  const AllocatorDispatch* next = self->next;
  // The old block's size is only known before the call.
  RecordFree(next, address);
  void* result = next->realloc_function(next, address, size, context);
  if (result && size != 0)
    RecordAlloc(next, result, size);
  return result;
}

void HookFree(const AllocatorDispatch* self, void* address, void* context) {
  const AllocatorDispatch* next = self->next;
  RecordFree(next, address);
  next->free_function(next, address, context);
}

size_t HookSizeEstimate(const AllocatorDispatch* self, void* address,
                        void* context) {
  const AllocatorDispatch* next = self->next;
  return next->get_size_estimate_function(next, address, context);
}

unsigned HookBatchAlloc(const AllocatorDispatch* self, size_t size,
                        void** results, unsigned count, void* context) {
  const AllocatorDispatch* next = self->next;
  if (!next->batch_malloc_function)
    return 0;
  const unsigned allocated =
      next->batch_malloc_function(next, size, results, count, context);
  for (unsigned i = 0; i < allocated; ++i)
    RecordAlloc(next, results[i], size);
  return allocated;
}

void HookBatchFree(const AllocatorDispatch* self, void** addresses,
                   unsigned count, void* context) {
  const AllocatorDispatch* next = self->next;
  for (unsigned i = 0; i < count; ++i)
    RecordFree(next, addresses[i]);
  if (next->batch_free_function) {
    next->batch_free_function(next, addresses, count, context);
    return;
  }
  // The default table has no batch entries; the blocks must go all the same.
  for (unsigned i = 0; i < count; ++i)
    next->free_function(next, addresses[i], context);
}

void HookFreeDefiniteSize(const AllocatorDispatch* self, void* address,
                          size_t size, void* context) {
  const AllocatorDispatch* next = self->next;
  RecordFree(next, address);
  if (next->free_definite_size_function)
    next->free_definite_size_function(next, address, size, context);
  else
    next->free_function(next, address, context);
}

constexpr AllocatorDispatch kHookTable = {
    &HookAlloc,      &HookAllocZeroed, &HookAllocAligned,
    &HookRealloc,    &HookFree,        &HookSizeEstimate,
    &HookBatchAlloc, &HookBatchFree,   &HookFreeDefiniteSize,
    nullptr,
};

// The table in the chain; its `next` is set by the insertion.
constinit AllocatorDispatch g_hook_table = kHookTable;

void NTAPI HeapUsageThreadExitCallback(PVOID, DWORD reason, PVOID) {
  if (reason != DLL_THREAD_DETACH)
    return;
  const DWORD index = g_tls_index.load(std::memory_order_acquire);
  if (index == TLS_OUT_OF_INDEXES)
    return;
  const uintptr_t value = ReadSlot(index);
  // Marked first: freeing the record passes through the hooks.
  WriteSlot(index, kRecordDestroyed);
  if (value == 0 || value == kRecordBeingMade || value == kRecordDestroyed)
    return;
  std::unique_ptr<ThreadHeapUsage> record(
      reinterpret_cast<ThreadHeapUsage*>(value));
}

}  // namespace

// After base's thread slots ("XLB"), whose destructors still allocate and
// free for the thread, and before the block cache lets go of its blocks
// ("XLY").
extern "C" {
__attribute__((used, section(".CRT$XLX")))
PIMAGE_TLS_CALLBACK base_heap_usage_exit_callback = HeapUsageThreadExitCallback;
}

void InsertHeapUsageHooks() {
  PrepareThreadRecords();
  CHECK(!g_hooks_inserted.exchange(true, std::memory_order_acq_rel))
      << "heap-usage hooks inserted twice";
  InsertAllocatorDispatch(&g_hook_table);
}

bool HeapUsageHooksInserted() {
  return g_hooks_inserted.load(std::memory_order_relaxed);
}

ThreadHeapUsage* GetThreadHeapUsage() {
  const DWORD index = g_tls_index.load(std::memory_order_acquire);
  if (index == TLS_OUT_OF_INDEXES)
    return nullptr;
  const uintptr_t value = ReadSlot(index);
  if (value == kRecordBeingMade || value == kRecordDestroyed)
    return nullptr;
  if (value != 0)
    return reinterpret_cast<ThreadHeapUsage*>(value);
  WriteSlot(index, kRecordBeingMade);
  // Owned through the slot from here on; destroyed as the thread ends.
  ThreadHeapUsage* usage = std::make_unique<ThreadHeapUsage>().release();
  WriteSlot(index, reinterpret_cast<uintptr_t>(usage));
  return usage;
}

AllocatorDispatch GetHeapUsageDispatchForTesting() {
  PrepareThreadRecords();
  return kHookTable;
}

}  // namespace base
