#ifndef BASE_REF_COUNTED_H_
#define BASE_REF_COUNTED_H_

#include <atomic>
#include <cstdint>
#include <utility>

namespace base {

// Reference counts of objects that threads share. Changes are sequentially
// consistent, so whichever thread drops the last reference sees every write
// made under the other references before it destroys the object.
using AtomicRefCount = std::atomic<int64_t>;

inline void AtomicRefCountIncrement(AtomicRefCount& count) {
  count.fetch_add(1, std::memory_order_seq_cst);
}

// True when this decrement dropped the last reference.
inline bool AtomicRefCountDecrement(AtomicRefCount& count) {
  return count.fetch_sub(1, std::memory_order_seq_cst) == 1;
}

// Base of a shared object that is deleted, as `T`, by the thread that drops
// its last reference. The count starts at 0: the first `RefPtr` makes it 1.
// AddRef and Release are for `RefPtr`; code holds a `RefPtr`, never counts.
template <class T>
class RefCounted {
 public:
  RefCounted(const RefCounted&) = delete;
  RefCounted& operator=(const RefCounted&) = delete;

  void AddRef() const { AtomicRefCountIncrement(ref_count_); }
  void Release() const {
    if (AtomicRefCountDecrement(ref_count_))
      delete static_cast<const T*>(this);
  }
  // Only meaningful on a thread that holds one of the references.
  bool HasOneRef() const { return ref_count_.load() == 1; }

 protected:
  RefCounted() = default;
  ~RefCounted() = default;

 private:
  mutable AtomicRefCount ref_count_{0};
};

// Owns one reference to a `T` that has AddRef and Release.
template <class T>
class RefPtr {
 public:
  constexpr RefPtr() = default;
  constexpr RefPtr(std::nullptr_t) {}
  // Adds a reference: a freshly made object (count 0) becomes owned.
  explicit RefPtr(T* object) : object_(object) {
    if (object_)
      object_->AddRef();
  }
  RefPtr(const RefPtr& other) : RefPtr(other.object_) {}
  RefPtr(RefPtr&& other) noexcept
      : object_(std::exchange(other.object_, nullptr)) {}
  template <class U>
  RefPtr(const RefPtr<U>& other) : RefPtr(other.get()) {}
  template <class U>
  RefPtr(RefPtr<U>&& other) noexcept : object_(other.Leak()) {}

  ~RefPtr() {
    if (object_)
      object_->Release();
  }

  // Taking the new reference before dropping the old one makes
  // self-assignment safe.
  RefPtr& operator=(const RefPtr& other) {
    RefPtr(other).swap(*this);
    return *this;
  }
  RefPtr& operator=(RefPtr&& other) noexcept {
    RefPtr(std::move(other)).swap(*this);
    return *this;
  }

  T* get() const { return object_; }
  T& operator*() const { return *object_; }
  T* operator->() const { return object_; }
  explicit operator bool() const { return object_ != nullptr; }

  // Clears the pointer first, so that a destructor run by the release sees
  // this owner empty.
  void reset() {
    if (T* object = std::exchange(object_, nullptr))
      object->Release();
  }
  void swap(RefPtr& other) noexcept { std::swap(object_, other.object_); }

  friend bool operator==(const RefPtr& a, const RefPtr& b) {
    return a.object_ == b.object_;
  }
  friend bool operator==(const RefPtr& a, std::nullptr_t) {
    return a.object_ == nullptr;
  }

 private:
  template <class U>
  friend class RefPtr;

  // Hands the reference over to another owner.
  T* Leak() { return std::exchange(object_, nullptr); }

  T* object_ = nullptr;
};

template <class T, class... Args>
RefPtr<T> MakeRefCounted(Args&&... args) {
  return RefPtr<T>(new T(std::forward<Args>(args)...));
}

}  // namespace base

#endif  // BASE_REF_COUNTED_H_
