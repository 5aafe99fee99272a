#include "base/lazy_global.h"

#include <windows.h>

namespace base {

uintptr_t LazyGlobal::GetOrClaim() {
  for (;;) {
    uintptr_t value = word_.load(std::memory_order_acquire);
    if (value > kBeingCreated)
      return value;
    uintptr_t expected = kNotCreated;
    if (word_.compare_exchange_strong(expected, kBeingCreated,
                                      std::memory_order_acq_rel))
      return kNotCreated;
    value = WaitForInstance(word_);
    // 0 again only when the object was destroyed at exit meanwhile: race
    // for it anew rather than report a claim this caller does not hold.
    if (value != kNotCreated)
      return value;
  }
}

void LazyGlobal::Publish(uintptr_t address) {
  word_.store(address, std::memory_order_release);
}

uintptr_t LazyGlobal::Clear() {
  return word_.exchange(kNotCreated, std::memory_order_acq_rel);
}

// static
uintptr_t LazyGlobal::WaitForInstance(const std::atomic<uintptr_t>& word) {
  uintptr_t value;
  // Creation is short and rare: yielding beats a kernel wait object, which
  // would itself have to be made lazily.
  while ((value = word.load(std::memory_order_acquire)) == kBeingCreated)
    Sleep(0);
  return value;
}

}  // namespace base
