#ifndef BASE_THREADING_ATOMIC_FLAG_H_
#define BASE_THREADING_ATOMIC_FLAG_H_

#include <atomic>
#include <cstdint>

namespace base {

// A flag that one thread sets once and others read. What the setter wrote
// before `Set` is visible to a reader once `IsSet` returns true.
class AtomicFlag {
 public:
  constexpr AtomicFlag() = default;
  AtomicFlag(const AtomicFlag&) = delete;
  AtomicFlag& operator=(const AtomicFlag&) = delete;

  void Set() { flag_.store(1, std::memory_order_release); }
  bool IsSet() const { return flag_.load(std::memory_order_acquire) != 0; }

 private:
  // One aligned 32-bit word: 0 clear, 1 set.
  std::atomic<uint32_t> flag_{0};
};

}  // namespace base

#endif  // BASE_THREADING_ATOMIC_FLAG_H_
