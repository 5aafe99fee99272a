#include "base/metrics/persistent_memory_allocator.h"

#include <algorithm>
#include <cstring>

#include "base/logging.h"
#include "base/metrics/histogram_base.h"

namespace base {

namespace {

// Offsets 0 to 27 are ours to choose: what a later attach checks.
constexpr uint32_t kSegmentCookie = 0x5E6D4501;
constexpr uint32_t kSegmentVersion = 1;
constexpr uint32_t kBlockCookie = 0xC8799269;
constexpr uint32_t kFillerCookie = 0xFFFFFFFF;

constexpr uint32_t kFlagCorrupt = 0x1;
constexpr uint32_t kFlagFull = 0x2;

constexpr uint32_t kAllocAlignment = 8;
constexpr uint32_t kLargestRequest = 0x3FFFFFF1;
// A page rest smaller than this would be a block with almost no payload:
// it goes to the block before it.
constexpr uint32_t kSmallestPageRest = 24;
// Each block returned by a walk is at least this big, which bounds a walk.
constexpr uint32_t kSmallestWalkedBlock = 24;

uint32_t Load(const uint32_t& field) {
  return std::atomic_ref<uint32_t>(const_cast<uint32_t&>(field))
      .load(std::memory_order_acquire);
}

void Store(uint32_t& field, uint32_t value) {
  std::atomic_ref<uint32_t>(field).store(value, std::memory_order_release);
}

// Like compare_exchange_strong: on failure `expected` holds what was found.
bool CompareExchange(uint32_t& field, uint32_t& expected, uint32_t desired) {
  return std::atomic_ref<uint32_t>(field).compare_exchange_strong(
      expected, desired, std::memory_order_acq_rel, std::memory_order_acquire);
}

}  // namespace

struct PersistentMemoryAllocator::BlockHeader {
  uint32_t size;
  uint32_t cookie;
  uint32_t type_id;
  uint32_t next;
};

struct PersistentMemoryAllocator::SharedMetadata {
  uint32_t cookie;
  uint32_t version;
  uint64_t id;
  uint32_t size;
  uint32_t page_size;
  uint32_t reserved;
  uint32_t flags;
  uint32_t free_offset;
  uint32_t tail_offset;
  BlockHeader queue;
};

PersistentMemoryAllocator::Iterator::Iterator(
    const PersistentMemoryAllocator* allocator)
    : allocator_(allocator) {}

// static
std::unique_ptr<PersistentMemoryAllocator> PersistentMemoryAllocator::Create(
    void* base, uint32_t size, uint32_t page_size, uint64_t id, bool read_only,
    HistogramBase* allocation_sizes, HistogramBase* errors) {
  static_assert(sizeof(BlockHeader) == kBlockHeaderSize);
  static_assert(sizeof(SharedMetadata) == kSegmentHeaderSize);
  static_assert(offsetof(SharedMetadata, flags) == 28);
  static_assert(offsetof(SharedMetadata, queue) == kQueueHead);
  // Pages must tile the segment: a block that takes the rest of a page must
  // not reach past the segment's end.
  if (!base || reinterpret_cast<uintptr_t>(base) % kAllocAlignment ||
      page_size == 0 || page_size % kAllocAlignment ||
      size < kSegmentHeaderSize || size % page_size) {
    LOG(ERROR) << "Unusable persistent memory segment: " << size
               << " bytes in pages of " << page_size;
    return nullptr;
  }
  auto* meta = static_cast<SharedMetadata*>(base);
  if (Load(meta->cookie) == 0 && Load(meta->free_offset) == 0 && !read_only) {
    // A new segment, formatted by its creator before anyone else attaches.
    meta->version = kSegmentVersion;
    meta->id = id;
    meta->size = size;
    meta->page_size = page_size;
    meta->queue.size = kBlockHeaderSize;
    meta->queue.cookie = kBlockCookie;
    Store(meta->queue.next, kQueueHead);
    Store(meta->tail_offset, kQueueHead);
    Store(meta->free_offset, kSegmentHeaderSize);
    Store(meta->cookie, kSegmentCookie);
  }
  if (Load(meta->cookie) != kSegmentCookie || meta->size != size ||
      meta->page_size != page_size) {
    LOG(ERROR) << "Persistent memory segment of another layout";
    return nullptr;
  }
  return std::unique_ptr<PersistentMemoryAllocator>(
      new PersistentMemoryAllocator(static_cast<uint8_t*>(base), size,
                                    page_size, read_only, allocation_sizes,
                                    errors));
}

PersistentMemoryAllocator::PersistentMemoryAllocator(
    uint8_t* base, uint32_t size, uint32_t page_size, bool read_only,
    HistogramBase* allocation_sizes, HistogramBase* errors)
    : base_(base),
      size_(size),
      page_size_(page_size),
      read_only_(read_only),
      allocation_sizes_(allocation_sizes),
      errors_(errors) {}

PersistentMemoryAllocator::~PersistentMemoryAllocator() = default;

PersistentMemoryAllocator::SharedMetadata* PersistentMemoryAllocator::shared()
    const {
  return reinterpret_cast<SharedMetadata*>(base_);
}

uint32_t PersistentMemoryAllocator::used() const {
  return std::min(Load(shared()->free_offset), size_);
}

PersistentMemoryAllocator::Reference PersistentMemoryAllocator::Allocate(
    uint32_t size, uint32_t type_id) {
  const Reference ref = AllocateImpl(size, type_id);
  if (allocation_sizes_)
    allocation_sizes_->Add(ref ? static_cast<HistogramBase::Sample>(size) : 0);
  return ref;
}

PersistentMemoryAllocator::Reference PersistentMemoryAllocator::AllocateImpl(
    uint32_t request, uint32_t type_id) {
  if (read_only_ || request >= kLargestRequest)
    return 0;
  const uint32_t size = (request + kBlockHeaderSize + kAllocAlignment - 1) &
                        ~(kAllocAlignment - 1);
  if (size <= kBlockHeaderSize || size > page_size_)
    return 0;

  SharedMetadata* meta = shared();
  uint32_t free_offset = Load(meta->free_offset);
  while (!IsCorrupt()) {
    if (uint64_t{free_offset} + size > size_) {
      SetFlag(kFlagFull);
      return 0;
    }
    if (free_offset < kSegmentHeaderSize || free_offset % kAllocAlignment ||
        uint64_t{free_offset} + kBlockHeaderSize > size_) {
      SetCorrupt();
      return 0;
    }
    const uint32_t page_rest = page_size_ - free_offset % page_size_;
    if (size <= page_rest) {
      const uint32_t block_size =
          page_rest - size < kSmallestPageRest ? page_rest : size;
      const uint32_t new_freeptr = free_offset + block_size;
      if (new_freeptr > size_) {
        SetCorrupt();
        return 0;
      }
      if (!CompareExchange(meta->free_offset, free_offset, new_freeptr))
        continue;
      auto* block = reinterpret_cast<BlockHeader*>(base_ + free_offset);
      // Another process may have written here behind the free offset.
      if (Load(block->size) || Load(block->cookie) || Load(block->type_id) ||
          Load(block->next)) {
        SetCorrupt();
        return 0;
      }
      Store(block->size, block_size);
      Store(block->cookie, kBlockCookie);
      Store(block->type_id, type_id);
      return free_offset;
    }
    if (page_rest < kBlockHeaderSize + 1) {
      SetCorrupt();
      return 0;
    }
    // Close the page with a filler and go on at the next one.
    const uint32_t filler = free_offset;
    if (CompareExchange(meta->free_offset, free_offset, filler + page_rest)) {
      auto* block = reinterpret_cast<BlockHeader*>(base_ + filler);
      Store(block->size, page_rest);
      Store(block->cookie, kFillerCookie);
      free_offset = filler + page_rest;
    }
  }
  SetCorrupt();
  return 0;
}

PersistentMemoryAllocator::BlockHeader* PersistentMemoryAllocator::GetBlock(
    Reference ref, bool queue_ok) const {
  const bool is_queue = ref == kQueueHead && queue_ok;
  if ((ref < kSegmentHeaderSize && !is_queue) || ref % kAllocAlignment)
    return nullptr;
  const uint64_t bound = std::min(size_, Load(shared()->free_offset));
  if (uint64_t{ref} + kBlockHeaderSize > bound)
    return nullptr;
  auto* block = reinterpret_cast<BlockHeader*>(base_ + ref);
  const uint32_t block_size = Load(block->size);
  if (block_size < kBlockHeaderSize || uint64_t{ref} + block_size > bound)
    return nullptr;
  if (!is_queue && Load(block->cookie) != kBlockCookie)
    return nullptr;
  return block;
}

void PersistentMemoryAllocator::MakeIterable(Reference ref) {
  if (read_only_)
    return;
  if (IsCorrupt()) {
    SetCorrupt();
    return;
  }
  BlockHeader* block = GetBlock(ref, false);
  if (!block)
    return;
  // Claimed by compare-exchange: of two threads that link one block, the
  // second must not append it again, which would close the queue to a loop.
  uint32_t unlinked = 0;
  if (!CompareExchange(block->next, unlinked, kQueueHead))
    return;

  SharedMetadata* meta = shared();
  uint32_t tail = Load(meta->tail_offset);
  // A queue closed into a loop (by another process) has no end to append
  // to: moving the tail along it more often than there are blocks ends it.
  const uint32_t most_moves = used() / kSmallestWalkedBlock;
  for (uint32_t moves = 0;; ++moves) {
    BlockHeader* tail_block = GetBlock(tail, true);
    if (!tail_block || moves > most_moves) {
      SetCorrupt();
      return;
    }
    uint32_t tail_next = kQueueHead;
    if (CompareExchange(tail_block->next, tail_next, ref)) {
      uint32_t expected = tail;
      CompareExchange(meta->tail_offset, expected, ref);
      return;
    }
    // Another block was linked but the tail offset not moved yet: help.
    uint32_t expected = tail;
    tail = CompareExchange(meta->tail_offset, expected, tail_next) ? tail_next
                                                                   : expected;
  }
}

bool PersistentMemoryAllocator::ChangeType(Reference ref, uint32_t to,
                                           uint32_t from, bool clear) {
  if (read_only_)
    return false;
  BlockHeader* block = GetBlock(ref, false);
  if (!block)
    return false;
  uint32_t expected = from;
  if (!clear)
    return CompareExchange(block->type_id, expected, to);
  if (!CompareExchange(block->type_id, expected, kTypeIdChanging))
    return false;
  memset(block + 1, 0, Load(block->size) - kBlockHeaderSize);
  if (to == kTypeIdChanging)
    return true;
  expected = kTypeIdChanging;
  return CompareExchange(block->type_id, expected, to);
}

uint32_t PersistentMemoryAllocator::GetAllocSize(Reference ref) const {
  const BlockHeader* block = GetBlock(ref, false);
  if (!block)
    return 0;
  const uint32_t block_size = Load(block->size);
  if (block_size <= kBlockHeaderSize || uint64_t{ref} + block_size > size_) {
    SetCorrupt();
    return 0;
  }
  return block_size - kBlockHeaderSize;
}

uint32_t PersistentMemoryAllocator::GetType(Reference ref) const {
  const BlockHeader* block = GetBlock(ref, false);
  return block ? Load(block->type_id) : 0;
}

void* PersistentMemoryAllocator::GetBlockData(Reference ref, uint32_t type_id,
                                              uint32_t size) const {
  BlockHeader* block = GetBlock(ref, false);
  if (!block || Load(block->type_id) != type_id ||
      Load(block->size) - kBlockHeaderSize < size) {
    return nullptr;
  }
  return block + 1;
}

PersistentMemoryAllocator::Reference PersistentMemoryAllocator::IteratorNext(
    Iterator* iterator, uint32_t* type_id) const {
  if (IsCorrupt())
    return 0;
  uint32_t last = iterator->last_.load(std::memory_order_acquire);
  Reference next = 0;
  const BlockHeader* next_block = nullptr;
  for (;;) {
    const BlockHeader* block = GetBlock(last, true);
    if (!block)
      return 0;
    next = Load(block->next);
    if (next == kQueueHead)
      return 0;
    next_block = GetBlock(next, false);
    if (!next_block) {
      SetCorrupt();
      return 0;
    }
    if (iterator->last_.compare_exchange_strong(last, next,
                                                std::memory_order_acq_rel))
      break;
  }
  // A queue closed into a loop would be walked for ever.
  const uint32_t bound =
      std::min(size_, Load(shared()->free_offset)) / kSmallestWalkedBlock;
  if (iterator->record_count_.fetch_add(1, std::memory_order_relaxed) > bound) {
    SetCorrupt();
    return 0;
  }
  if (type_id)
    *type_id = Load(next_block->type_id);
  return next;
}

PersistentMemoryAllocator::Reference
PersistentMemoryAllocator::IteratorNextOfType(Iterator* iterator,
                                              uint32_t type_id) const {
  uint32_t found_type = 0;
  while (Reference ref = IteratorNext(iterator, &found_type)) {
    if (found_type == type_id)
      return ref;
  }
  return 0;
}

void PersistentMemoryAllocator::SetCorrupt() const {
  if (!corrupt_.load(std::memory_order_relaxed) && !CheckFlag(kFlagCorrupt)) {
    PLOG(ERROR) << "Corruption detected in shared-memory segment.";
    if (errors_)
      errors_->Add(1);
  }
  corrupt_.store(true, std::memory_order_relaxed);
  if (!read_only_)
    SetFlag(kFlagCorrupt);
}

bool PersistentMemoryAllocator::IsCorrupt() const {
  return corrupt_.load(std::memory_order_relaxed) || CheckFlag(kFlagCorrupt);
}

bool PersistentMemoryAllocator::IsFull() const {
  return CheckFlag(kFlagFull);
}

void PersistentMemoryAllocator::SetFlag(uint32_t flag) const {
  uint32_t& flags = shared()->flags;
  uint32_t current = Load(flags);
  while ((current & flag) != flag &&
         !CompareExchange(flags, current, current | flag)) {
  }
}

bool PersistentMemoryAllocator::CheckFlag(uint32_t flag) const {
  return (Load(shared()->flags) & flag) != 0;
}

}  // namespace base
