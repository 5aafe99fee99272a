#ifndef BASE_WIN_SCOPED_LOCAL_ALLOC_H_
#define BASE_WIN_SCOPED_LOCAL_ALLOC_H_

#include <windows.h>

#include <utility>

namespace base::win {

// Owns a block from the local heap, as the system hands them out (security
// descriptors and access lists, split command lines, formatted messages,
// decoded certificate data), and frees it with LocalFree.
template <class T = void>
class ScopedLocalAlloc {
 public:
  ScopedLocalAlloc() = default;
  explicit ScopedLocalAlloc(T* block) : block_(block) {}
  ScopedLocalAlloc(ScopedLocalAlloc&& other) : block_(other.Release()) {}
  ScopedLocalAlloc& operator=(ScopedLocalAlloc&& other) {
    Reset(other.Release());
    return *this;
  }
  ScopedLocalAlloc(const ScopedLocalAlloc&) = delete;
  ScopedLocalAlloc& operator=(const ScopedLocalAlloc&) = delete;
  ~ScopedLocalAlloc() { Reset(nullptr); }

  T* Get() const { return block_; }
  T* operator->() const { return block_; }
  explicit operator bool() const { return block_ != nullptr; }

  void Reset(T* block) {
    if (T* previous = std::exchange(block_, block))
      ::LocalFree(const_cast<void*>(static_cast<const void*>(previous)));
  }
  [[nodiscard]] T* Release() { return std::exchange(block_, nullptr); }
  // For out-parameters: frees the held block and hands out the slot.
  T** Receive() {
    Reset(nullptr);
    return &block_;
  }

 private:
  T* block_ = nullptr;
};

}  // namespace base::win

#endif  // BASE_WIN_SCOPED_LOCAL_ALLOC_H_
