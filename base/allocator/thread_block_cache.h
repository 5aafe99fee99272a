#ifndef BASE_ALLOCATOR_THREAD_BLOCK_CACHE_H_
#define BASE_ALLOCATOR_THREAD_BLOCK_CACHE_H_

#include <cstddef>
#include <cstdint>

namespace base {

// Small blocks of the module heap that a thread released, kept for the
// thread's next allocations of the same size. Under Wine a HeapAlloc and
// HeapFree pair costs well over 100 ns and every call takes the heap lock;
// a cached block is handed out without entering the heap. Freeing still asks
// HeapSize for the block's class: the release entry is given no size, and a
// header in front of the block would hide it from HeapSize and HeapValidate.
//
// A cached block stays a real block of the module heap whose heap size is
// exactly its class size (a multiple of kGranule, at most kLargestBlock), so
// HeapSize and HeapValidate keep working on it. A block may be released on
// any thread and joins that thread's cache. A class holds at most
// kBytesPerClass per thread; when it is full, the whole list goes to a small
// shared depot that other threads refill from (a thread that only posts
// tasks allocates what the thread running them frees), or to the heap when
// the depot is full too. A thread's own cache goes back to the heap when the
// thread ends.
class ThreadBlockCache {
 public:
  static constexpr size_t kGranule = 16;
  static constexpr size_t kLargestBlock = 256;
  static constexpr size_t kBytesPerClass = 16 * 1024;
  // Full lists the depot keeps per class.
  static constexpr uint32_t kDepotLists = 8;

  // A block of at least `size` bytes from the module heap, or null when the
  // heap has none. The caller checks the size limit.
  static void* Allocate(size_t size);
  // Releases `block`, a block of the module heap.
  static void Free(void* block);
  // The heap size a request of `size` bytes is given: small requests are
  // rounded up to their class, so that the block can be cached once freed.
  static size_t BlockSizeFor(size_t size);

  // Run by the loader as the thread ends: returns the thread's blocks to the
  // heap. Later calls on the thread go straight to the heap.
  static void OnThreadExit();

  // How many blocks the calling thread holds.
  static size_t CachedBlockCountForTesting();
  // For the class of a request size: how many blocks the depot holds, and
  // the most one thread keeps.
  static size_t DepotBlockCountForTesting(size_t size);
  static uint32_t CapacityForTesting(size_t size);

 private:
  struct FreeBlock;
  struct Depot;
  static constexpr size_t kClassCount = kLargestBlock / kGranule;
  static Depot depots_[kClassCount];

  // The calling thread's cache, made on first use; null when the thread has
  // none to offer (past its exit, or no TLS index to be had).
  static ThreadBlockCache* ForCurrentThread();

  void* Take(size_t class_index);
  void Keep(void* block, size_t class_index);
  void ReleaseAll();

  FreeBlock* heads_[kClassCount];
  uint32_t counts_[kClassCount];
};

}  // namespace base

#endif  // BASE_ALLOCATOR_THREAD_BLOCK_CACHE_H_
