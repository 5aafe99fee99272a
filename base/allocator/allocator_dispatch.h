#ifndef BASE_ALLOCATOR_ALLOCATOR_DISPATCH_H_
#define BASE_ALLOCATOR_ALLOCATOR_DISPATCH_H_

#include <cstddef>

namespace base {

// One table of the module's allocation chain. Every function receives the
// table it was reached through, so that a table placed in front of the chain
// (a measuring one, say) can do its work and forward to `next`. The context
// argument is reserved for the tables and is null on every call for now.
struct AllocatorDispatch {
  using AllocFn = void* (*)(const AllocatorDispatch* self, size_t size,
                            void* context);
  using AllocZeroedFn = void* (*)(const AllocatorDispatch* self, size_t count,
                                  size_t size, void* context);
  using AllocAlignedFn = void* (*)(const AllocatorDispatch* self,
                                   size_t alignment, size_t size,
                                   void* context);
  using ReallocFn = void* (*)(const AllocatorDispatch* self, void* address,
                              size_t size, void* context);
  using FreeFn = void (*)(const AllocatorDispatch* self, void* address,
                          void* context);
  using SizeEstimateFn = size_t (*)(const AllocatorDispatch* self,
                                    void* address, void* context);
  // Fills `results` with up to `count` blocks of `size` bytes; returns how
  // many it allocated.
  using BatchAllocFn = unsigned (*)(const AllocatorDispatch* self, size_t size,
                                    void** results, unsigned count,
                                    void* context);
  using BatchFreeFn = void (*)(const AllocatorDispatch* self, void** addresses,
                               unsigned count, void* context);
  using FreeDefiniteSizeFn = void (*)(const AllocatorDispatch* self,
                                      void* address, size_t size,
                                      void* context);

  AllocFn alloc_function;
  AllocZeroedFn alloc_zeroed_function;
  AllocAlignedFn alloc_aligned_function;
  ReallocFn realloc_function;
  FreeFn free_function;
  SizeEstimateFn get_size_estimate_function;
  // Null in the default table: no entry point of the module calls them.
  BatchAllocFn batch_malloc_function;
  BatchFreeFn batch_free_function;
  FreeDefiniteSizeFn free_definite_size_function;
  // Null in the default table, which ends the chain.
  const AllocatorDispatch* next;
};

// Requests of this many bytes or more fail in the default table; the heap
// would refuse them anyway, and failing early keeps sizes within 31 bits.
inline constexpr size_t kMaxAllocationSize = 0x7FFFEFFF;

// The table that ends the chain: it serves the module's private heap.
const AllocatorDispatch* GetDefaultAllocatorDispatch();

// The first table of the chain, where every allocation entry point starts.
const AllocatorDispatch* GetAllocatorDispatchChainHead();

// Puts `dispatch` in front of the chain, setting its `next` to the former
// head. Blocks may be released through a different table than the one that
// allocated them, so a table in front must forward what it does not own, and
// it must outlive every call that may still reach it (in practice: the
// process).
void InsertAllocatorDispatch(AllocatorDispatch* dispatch);

// Takes `dispatch` off the front of the chain again; it must be the head.
void RemoveAllocatorDispatchForTesting(AllocatorDispatch* dispatch);

}  // namespace base

#endif  // BASE_ALLOCATOR_ALLOCATOR_DISPATCH_H_
