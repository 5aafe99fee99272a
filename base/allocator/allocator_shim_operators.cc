// The module's object allocation: every form of the global `operator new` and
// `operator delete` goes through the allocator entry points, so that objects
// live on the module's private heap and a table in front of the dispatch
// chain sees them. The C runtime's own `malloc` is left alone: its blocks stay
// on its heap and are freed there.

#include <cstdint>
#include <cstring>
#include <new>

#include "base/allocator/allocator_shim.h"

namespace {

// The standard loop: ask the new-handler for memory until it gives up. With
// no handler installed the process ends here rather than throwing
// std::bad_alloc: our code is written without exceptions, so a throw would
// only reach std::terminate, which bypasses the crash handler, while the
// fatal trap reaches it with the size on the stack.
void* AllocateOrHandle(size_t size, bool may_fail) {
  // A zero-sized object still needs an address of its own.
  if (size == 0)
    size = 1;
  for (;;) {
    if (void* block = base::AllocatorNew(size))
      return block;
    std::new_handler handler = std::get_new_handler();
    if (!handler) {
      if (may_fail)
        return nullptr;
      base::OnAllocationFailure(size);
    }
    handler();
  }
}

// Over-aligned objects: over-allocate through the plain entry, align inside
// the block and keep the block's own address just below the object.
void* AllocateAligned(size_t size, std::align_val_t align, bool may_fail) {
  const size_t alignment = static_cast<size_t>(align);
  if (alignment == 0 || (alignment & (alignment - 1)) != 0)
    __builtin_trap();  // Not a power of two: the caller is broken.
  const size_t overhead = sizeof(void*) + alignment - 1;
  if (size > SIZE_MAX - overhead) {
    if (may_fail)
      return nullptr;
    base::OnAllocationFailure(size);
  }
  void* block = AllocateOrHandle(size + overhead, may_fail);
  if (!block)
    return nullptr;
  const uintptr_t object =
      (reinterpret_cast<uintptr_t>(block) + overhead) & ~(alignment - 1);
  memcpy(reinterpret_cast<void*>(object - sizeof(void*)), &block,
         sizeof(block));
  return reinterpret_cast<void*>(object);
}

void FreeAligned(void* object) {
  if (!object)
    return;
  void* block;
  memcpy(&block, static_cast<char*>(object) - sizeof(void*), sizeof(block));
  base::AllocatorFree(block);
}

}  // namespace

void* operator new(size_t size) {
  return AllocateOrHandle(size, false);
}
void* operator new[](size_t size) {
  return AllocateOrHandle(size, false);
}
void* operator new(size_t size, const std::nothrow_t&) noexcept {
  return AllocateOrHandle(size, true);
}
void* operator new[](size_t size, const std::nothrow_t&) noexcept {
  return AllocateOrHandle(size, true);
}
void* operator new(size_t size, std::align_val_t align) {
  return AllocateAligned(size, align, false);
}
void* operator new[](size_t size, std::align_val_t align) {
  return AllocateAligned(size, align, false);
}
void* operator new(size_t size, std::align_val_t align,
                   const std::nothrow_t&) noexcept {
  return AllocateAligned(size, align, true);
}
void* operator new[](size_t size, std::align_val_t align,
                     const std::nothrow_t&) noexcept {
  return AllocateAligned(size, align, true);
}

void operator delete(void* object) noexcept {
  base::AllocatorFree(object);
}
void operator delete[](void* object) noexcept {
  base::AllocatorFree(object);
}
void operator delete(void* object, const std::nothrow_t&) noexcept {
  base::AllocatorFree(object);
}
void operator delete[](void* object, const std::nothrow_t&) noexcept {
  base::AllocatorFree(object);
}
void operator delete(void* object, size_t) noexcept {
  base::AllocatorFree(object);
}
void operator delete[](void* object, size_t) noexcept {
  base::AllocatorFree(object);
}
void operator delete(void* object, std::align_val_t) noexcept {
  FreeAligned(object);
}
void operator delete[](void* object, std::align_val_t) noexcept {
  FreeAligned(object);
}
void operator delete(void* object, std::align_val_t,
                     const std::nothrow_t&) noexcept {
  FreeAligned(object);
}
void operator delete[](void* object, std::align_val_t,
                       const std::nothrow_t&) noexcept {
  FreeAligned(object);
}
void operator delete(void* object, size_t, std::align_val_t) noexcept {
  FreeAligned(object);
}
void operator delete[](void* object, size_t, std::align_val_t) noexcept {
  FreeAligned(object);
}
