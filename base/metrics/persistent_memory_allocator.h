#ifndef BASE_METRICS_PERSISTENT_MEMORY_ALLOCATOR_H_
#define BASE_METRICS_PERSISTENT_MEMORY_ALLOCATOR_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace base {

class HistogramBase;

// Carves typed blocks out of one memory segment (shared memory or a mapped
// file) so that another process, or a later one, can find and read them.
// Blocks are addressed by 32-bit offsets from the segment's start
// (references) and never freed; blocks made iterable form a queue that
// readers walk. Every shared field changes by compare-exchange only, so any
// number of threads and processes may use one segment at once. Whatever is
// read from the segment is checked before it is used: a failed check marks
// the segment corrupt, which stops every allocation and walk.
class PersistentMemoryAllocator {
 public:
  using Reference = uint32_t;

  // The queue head: the walk's start and the last block's next.
  static constexpr Reference kQueueHead = 40;
  static constexpr uint32_t kBlockHeaderSize = 16;
  static constexpr uint32_t kSegmentHeaderSize = 56;
  // The type of a block that is being changed.
  static constexpr uint32_t kTypeIdChanging = 0xFFFFFFFF;

  // A walk over the queue; several threads may share one.
  class Iterator {
   public:
    explicit Iterator(const PersistentMemoryAllocator* allocator);
    Iterator(const Iterator&) = delete;
    Iterator& operator=(const Iterator&) = delete;

    // The next block and its type, 0 at the end.
    Reference GetNext(uint32_t* type_id) {
      return allocator_->IteratorNext(this, type_id);
    }
    Reference GetNextOfType(uint32_t type_id) {
      return allocator_->IteratorNextOfType(this, type_id);
    }

   private:
    friend class PersistentMemoryAllocator;
    const PersistentMemoryAllocator* const allocator_;
    std::atomic<uint32_t> last_{kQueueHead};
    std::atomic<uint32_t> record_count_{0};
  };

  // Attaches to `size` bytes at `base` (8-aligned), first writing an empty
  // segment's header when they hold none: all zero, as new shared memory or
  // a new file is. Null, with an error logged, for a page size that is 0 or
  // not a multiple of 8, a size not a multiple of 8 or too small for the
  // header, or a header of another size or page size. The two histograms are
  // optional: the size of each allocation, and 1 for each corruption found.
  static std::unique_ptr<PersistentMemoryAllocator> Create(
      void* base, uint32_t size, uint32_t page_size, uint64_t id,
      bool read_only, HistogramBase* allocation_sizes = nullptr,
      HistogramBase* errors = nullptr);

  PersistentMemoryAllocator(const PersistentMemoryAllocator&) = delete;
  PersistentMemoryAllocator& operator=(const PersistentMemoryAllocator&) =
      delete;
  ~PersistentMemoryAllocator();

  // A zeroed block of at least `size` payload bytes, or 0.
  Reference Allocate(uint32_t size, uint32_t type_id);
  // Appends the block to the queue once; later calls leave it as it is.
  void MakeIterable(Reference ref);
  // Changes the type from `from` to `to`; with `clear`, also zeroes the
  // payload in between, while the type says the block is being changed.
  bool ChangeType(Reference ref, uint32_t to, uint32_t from, bool clear);
  // Payload bytes of the block, 0 for a bad reference.
  uint32_t GetAllocSize(Reference ref) const;
  // The block's type, 0 for a bad reference.
  uint32_t GetType(Reference ref) const;
  // The payload of a valid block of `type_id` that holds at least `size`
  // bytes, else null.
  void* GetBlockData(Reference ref, uint32_t type_id, uint32_t size) const;
  template <class T>
  T* GetPayload(Reference ref, uint32_t type_id) const {
    return static_cast<T*>(GetBlockData(ref, type_id, sizeof(T)));
  }

  Reference IteratorNext(Iterator* iterator, uint32_t* type_id) const;
  Reference IteratorNextOfType(Iterator* iterator, uint32_t type_id) const;

  // Reports the first corruption, then marks this view and (unless read
  // only) the segment corrupt.
  void SetCorrupt() const;
  bool IsCorrupt() const;
  bool IsFull() const;

  uint32_t size() const { return size_; }
  uint32_t used() const;
  const void* data() const { return base_; }

 private:
  struct SharedMetadata;
  struct BlockHeader;

  PersistentMemoryAllocator(uint8_t* base, uint32_t size, uint32_t page_size,
                            bool read_only, HistogramBase* allocation_sizes,
                            HistogramBase* errors);

  Reference AllocateImpl(uint32_t size, uint32_t type_id);
  // The header of a valid block; the queue head only when `queue_ok`.
  BlockHeader* GetBlock(Reference ref, bool queue_ok) const;
  SharedMetadata* shared() const;
  void SetFlag(uint32_t flag) const;
  bool CheckFlag(uint32_t flag) const;

  uint8_t* const base_;
  const uint32_t size_;
  const uint32_t page_size_;
  const bool read_only_;
  mutable std::atomic<bool> corrupt_{false};
  HistogramBase* const allocation_sizes_;
  HistogramBase* const errors_;
};

}  // namespace base

#endif  // BASE_METRICS_PERSISTENT_MEMORY_ALLOCATOR_H_
