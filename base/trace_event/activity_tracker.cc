#include "base/trace_event/activity_tracker.h"

#include <windows.h>

#include <atomic>
#include <cstddef>
#include <cstring>

#include "base/threading/thread_name_registry.h"
#include "base/time/tick_time.h"
#include "base/time/time.h"

namespace base {

struct ActivityTracker::Header {
  uint32_t cookie;
  uint32_t slot_count;
  uint64_t process_id;
  uint64_t thread_id;
  int64_t start_time;
  int64_t start_ticks;
  uint32_t depth;
  uint32_t data_unchanged;
  char thread_name[32];
};

struct ActivityTracker::Slot {
  int64_t time_ticks;
  uint64_t calling_address;
  uint64_t origin_address;
  uint64_t reserved;
  uint8_t unused[72];
  uint32_t user_data_ref;
  uint32_t padding;
  uint8_t activity_type;
  uint8_t padding2[7];
  uint64_t data;
};

namespace {

uint32_t SlotCountFor(size_t size) {
  return size < ActivityTracker::kSmallestMemory
             ? 0
             : static_cast<uint32_t>((size - ActivityTracker::kHeaderSize) /
                                     ActivityTracker::kSlotSize);
}

uint64_t Address(const void* pointer) {
  return reinterpret_cast<uintptr_t>(pointer);
}

}  // namespace

ActivityTracker::ActivityTracker(void* base, size_t size)
    : base_(static_cast<uint8_t*>(base)), slot_count_(SlotCountFor(size)) {
  static_assert(sizeof(Header) == kHeaderSize);
  static_assert(offsetof(Header, depth) == 40);
  static_assert(sizeof(Slot) == kSlotSize);
  static_assert(offsetof(Slot, user_data_ref) == 104);
  static_assert(offsetof(Slot, activity_type) == 112);
  static_assert(offsetof(Slot, data) == 120);
  if (slot_count_ == 0)
    return;
  Header* head = header();
  std::atomic_ref<uint32_t> cookie(head->cookie);
  if (cookie.load(std::memory_order_acquire) != kCookie) {
    head->slot_count = slot_count_;
    head->process_id = GetCurrentProcessId();
    head->thread_id = GetCurrentThreadId();
    head->start_time = Time::Now().ToInternalValue();
    head->start_ticks = TickTime::Now().ToInternalValue();
    const char* name =
        ThreadNameRegistry::GetInstance()->GetName(GetCurrentThreadId());
    strncpy(head->thread_name, name, sizeof(head->thread_name) - 1);
    head->thread_name[sizeof(head->thread_name) - 1] = '\0';
    // Last: a reader takes the header as complete once the cookie is there.
    cookie.store(kCookie, std::memory_order_release);
  }
  valid_ = true;
  valid_ = IsValid();
}

ActivityTracker::~ActivityTracker() = default;

ActivityTracker::Header* ActivityTracker::header() const {
  return reinterpret_cast<Header*>(base_);
}

ActivityTracker::Slot* ActivityTracker::slot(uint32_t index) const {
  return reinterpret_cast<Slot*>(base_ + kHeaderSize) + index;
}

bool ActivityTracker::IsValid() const {
  if (!valid_)
    return false;
  const Header* head = header();
  return std::atomic_ref<uint32_t>(const_cast<uint32_t&>(head->cookie))
                 .load(std::memory_order_acquire) == kCookie &&
         head->slot_count == slot_count_ && head->process_id != 0 &&
         head->thread_id != 0 && head->start_time != 0 &&
         head->start_ticks != 0 && head->thread_name[31] == '\0';
}

void ActivityTracker::PushActivity(const void* program_counter,
                                   const void* origin, ActivityType type,
                                   uint64_t data) {
  std::atomic_ref<uint32_t> depth(header()->depth);
  const uint32_t index = depth.load(std::memory_order_relaxed);
  if (index < slot_count_) {
    Slot* entry = slot(index);
    entry->time_ticks = TickTime::Now().ToInternalValue();
    entry->calling_address = Address(program_counter);
    entry->origin_address = Address(origin);
    entry->reserved = 0;
    entry->user_data_ref = 0;
    entry->activity_type = type;
    entry->data = data;
  }
  // Published after the slot, so that a reader never sees a half-filled one.
  depth.fetch_add(1, std::memory_order_release);
}

void ActivityTracker::PopActivity() {
  // No slot is touched: past the slots, the activity only counted.
  std::atomic_ref<uint32_t>(header()->depth)
      .fetch_sub(1, std::memory_order_release);
  std::atomic_ref<uint32_t>(header()->data_unchanged)
      .store(0, std::memory_order_relaxed);
}

uint32_t ActivityTracker::depth() const {
  return std::atomic_ref<uint32_t>(header()->depth)
      .load(std::memory_order_relaxed);
}

}  // namespace base
