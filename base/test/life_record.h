#ifndef BASE_TEST_LIFE_RECORD_H_
#define BASE_TEST_LIFE_RECORD_H_

#include <windows.h>

#include <atomic>
#include <utility>

namespace base {

// Counts the destructions of the `Tracked` values that point at it and
// remembers the thread of the last one.
struct LifeRecord {
  std::atomic<int> destructions{0};
  std::atomic<DWORD> thread_id{0};
};

// A move-only bound value that reports its destruction to a `LifeRecord`.
class Tracked {
 public:
  explicit Tracked(LifeRecord* record) : record_(record) {}
  Tracked(Tracked&& other) noexcept
      : record_(std::exchange(other.record_, nullptr)) {}
  Tracked& operator=(Tracked&&) = delete;
  ~Tracked() {
    if (!record_)
      return;
    record_->thread_id = GetCurrentThreadId();
    ++record_->destructions;
  }

 private:
  LifeRecord* record_;
};

}  // namespace base

#endif  // BASE_TEST_LIFE_RECORD_H_
