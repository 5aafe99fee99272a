#ifndef BASE_TRACE_EVENT_GLOBAL_ACTIVITY_TRACKER_H_
#define BASE_TRACE_EVENT_GLOBAL_ACTIVITY_TRACKER_H_

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "base/metrics/persistent_memory_allocator.h"
#include "base/strings/string_slice.h"
#include "base/threading/lock.h"
#include "base/threading/tls_slot.h"

namespace base {

class ActivityTracker;

// The process-wide home of the threads' activity trackers: a persistent
// segment from which each thread takes the memory of its tracker, and to
// which log messages are copied. The process never creates one, so every
// activity scope records nothing; tests do (`CreateForTesting`).
class GlobalActivityTracker {
 public:
  static constexpr uint32_t kTypeIdActivityTracker = 0x5D7381B2;
  // Tracker memory that an ended thread gave back.
  static constexpr uint32_t kTypeIdActivityTrackerFree =
      ~kTypeIdActivityTracker;
  static constexpr uint32_t kTypeIdLogMessage = 0x4CF434FA;

  // The installed tracker, or null.
  static GlobalActivityTracker* Get();
  // Installs a tracker over `allocator`, each thread's tracker taking
  // `thread_memory_size` bytes. It replaces any installed one, which, like
  // this one when `ReleaseForTesting` uninstalls it, stays alive: threads
  // still hold trackers in it.
  static GlobalActivityTracker* CreateForTesting(
      std::unique_ptr<PersistentMemoryAllocator> allocator,
      uint32_t thread_memory_size);
  // Uninstalls the tracker, first giving back the calling thread's.
  static void ReleaseForTesting();

  GlobalActivityTracker(const GlobalActivityTracker&) = delete;
  GlobalActivityTracker& operator=(const GlobalActivityTracker&) = delete;
  ~GlobalActivityTracker();

  // The calling thread's tracker, or null.
  ActivityTracker* GetTrackerForCurrentThread();
  // Makes one when the thread has none; null when there is no memory.
  ActivityTracker* GetOrCreateTrackerForCurrentThread();
  // Copies `message` into the segment for whoever reads it later.
  void RecordLogMessage(StringSlice message);

  PersistentMemoryAllocator* allocator() { return allocator_.get(); }
  int thread_tracker_count() const {
    return thread_tracker_count_.load(std::memory_order_relaxed);
  }

 private:
  class ThreadTracker;

  GlobalActivityTracker(std::unique_ptr<PersistentMemoryAllocator> allocator,
                        uint32_t thread_memory_size);

  // Call with the lock held: recycled memory when there is some, else new.
  PersistentMemoryAllocator::Reference TakeTrackerMemoryLocked();
  void ReturnTrackerMemory(PersistentMemoryAllocator::Reference memory);
  static void OnThreadExit(void* tracker);

  const std::unique_ptr<PersistentMemoryAllocator> allocator_;
  const uint32_t thread_memory_size_;
  TlsSlot this_thread_tracker_;
  std::atomic<int> thread_tracker_count_{0};
  Lock lock_;
  // Most recently returned last.
  std::vector<PersistentMemoryAllocator::Reference> free_memory_;
};

}  // namespace base

#endif  // BASE_TRACE_EVENT_GLOBAL_ACTIVITY_TRACKER_H_
