#ifndef BASE_ALLOCATOR_ALLOCATOR_SHIM_H_
#define BASE_ALLOCATOR_ALLOCATOR_SHIM_H_

#include <cstddef>
#include <cstdint>

namespace base {

// The module's allocation entry points. Each calls the head of the dispatch
// chain once; a failed allocation returns null. Object allocation (`operator
// new` and `operator delete` in all their forms) goes through these too.
// Blocks must be released here, never with the C runtime's `free`.
void* AllocatorNew(size_t size);
void* AllocatorCalloc(size_t count, size_t size);
// A null address allocates; size 0 frees the block and returns null; a
// failure returns null and leaves the old block as it was.
void* AllocatorRealloc(void* address, size_t size);
void AllocatorFree(void* address);

// The runtime's new-mode: 0, `malloc` failures are not routed to the
// new-handler.
int32_t GetAllocatorModeSetting();

// The module's private heap (a Windows HANDLE), created on first use.
void* GetModuleHeap();
// Creates the private heap unless it exists; safe from any thread.
void CreateModuleHeap();
// Destroys the private heap, and with it every block still in it, cached
// ones included. Only for the module's unload, when no block is alive and no
// allocation follows.
void DestroyModuleHeap();

// Ends the process when memory for `size` bytes cannot be had; keeps the size
// on the stack for the crash dump.
[[noreturn]] void OnAllocationFailure(size_t size);

}  // namespace base

#endif  // BASE_ALLOCATOR_ALLOCATOR_SHIM_H_
