#ifndef BASE_WIN_SCOPED_CO_MEM_H_
#define BASE_WIN_SCOPED_CO_MEM_H_

#include <objbase.h>

#include <utility>

namespace base::win {

// Owns a block from the COM task allocator (as COM out-parameters return
// them) and frees it with CoTaskMemFree.
template <class T>
class ScopedCoMem {
 public:
  ScopedCoMem() = default;
  ScopedCoMem(const ScopedCoMem&) = delete;
  ScopedCoMem& operator=(const ScopedCoMem&) = delete;
  ~ScopedCoMem() { Reset(nullptr); }

  T* Get() const { return memory_; }
  T* operator->() const { return memory_; }

  void Reset(T* memory) { ::CoTaskMemFree(std::exchange(memory_, memory)); }
  T* Release() { return std::exchange(memory_, nullptr); }
  // For out-parameters: frees the held block and hands out the slot.
  T** Receive() {
    Reset(nullptr);
    return &memory_;
  }

 private:
  T* memory_ = nullptr;
};

}  // namespace base::win

#endif  // BASE_WIN_SCOPED_CO_MEM_H_
