#ifndef BASE_TRACE_EVENT_ACTIVITY_TRACKER_H_
#define BASE_TRACE_EVENT_ACTIVITY_TRACKER_H_

#include <cstddef>
#include <cstdint>

namespace base {

// One thread's stack of what it is doing right now, kept in memory that
// another process can read (a block of a persistent segment): an 80-byte
// header, then 128-byte activity slots. Only its own thread writes it;
// activities deeper than the slots are counted but not stored.
class ActivityTracker {
 public:
  enum ActivityType : uint8_t {
    kTaskRun = 0x10,
    kLockAcquire = 0x20,
    kEventWait = 0x30,
    kThreadJoin = 0x41,
    kProcessWait = 0x51,
  };

  static constexpr uint32_t kCookie = 0xC0029B26;
  static constexpr size_t kHeaderSize = 80;
  static constexpr size_t kSlotSize = 128;
  // The header and two slots.
  static constexpr size_t kSmallestMemory = kHeaderSize + 2 * kSlotSize;

  // Over `size` bytes at `base` (8-aligned): writes a fresh header for the
  // calling thread when none is there, else checks the one found.
  ActivityTracker(void* base, size_t size);
  ActivityTracker(const ActivityTracker&) = delete;
  ActivityTracker& operator=(const ActivityTracker&) = delete;
  virtual ~ActivityTracker();

  // The header is complete and consistent.
  bool IsValid() const;

  void PushActivity(const void* program_counter, const void* origin,
                    ActivityType type, uint64_t data);
  void PopActivity();

  uint32_t depth() const;
  uint32_t slot_count() const { return slot_count_; }

 private:
  struct Header;
  struct Slot;

  Header* header() const;
  Slot* slot(uint32_t index) const;

  uint8_t* const base_;
  const uint32_t slot_count_;
  bool valid_ = false;
};

}  // namespace base

#endif  // BASE_TRACE_EVENT_ACTIVITY_TRACKER_H_
