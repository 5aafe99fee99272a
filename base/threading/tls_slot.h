#ifndef BASE_THREADING_TLS_SLOT_H_
#define BASE_THREADING_TLS_SLOT_H_

#include <cstdint>

namespace base {

// A thread-local value: one of the process's 256 slots, all multiplexed over
// a single Windows TLS index. The owner keeps the slot, usually in a global
// (it is constant-initialised, so nothing runs before first use), and calls
// `Initialize` and `Free`; `Get` and `Set` touch the calling thread's value
// only. A slot's destructor runs for each thread that ends with a non-null
// value in it.
class TlsSlot {
 public:
  // Called at thread exit with the thread's old value, which the slot no
  // longer holds.
  using Destructor = void (*)(void* value);

  constexpr TlsSlot() = default;
  TlsSlot(const TlsSlot&) = delete;
  TlsSlot& operator=(const TlsSlot&) = delete;

  // Takes a free entry of the process slot table; taking a 257th at once is a
  // fatal trap. `destructor` may be null.
  void Initialize(Destructor destructor);
  // Returns the entry to the table. Values that threads still hold become
  // invisible, also to a later slot that takes the same entry.
  void Free();

  bool initialized() const { return initialized_ != 0; }

  // The calling thread's value; null when it never set one for this slot, or
  // when the slot is not initialised.
  void* Get() const;
  void Set(void* value);
  // For a per-thread boolean: `Get` returns non-null exactly when true.
  void SetFlag(bool value);

 private:
  static constexpr uint32_t kNoIndex = 0xFFFFFFFF;

  uint32_t initialized_ = 0;
  // Entry in the process slot table, 0..255.
  uint32_t index_ = kNoIndex;
  // That entry's version when this slot took it.
  uint32_t version_ = 0;
};

}  // namespace base

#endif  // BASE_THREADING_TLS_SLOT_H_
