#ifndef BASE_WEAK_REFERENCE_H_
#define BASE_WEAK_REFERENCE_H_

#include "base/ref_counted.h"

namespace base {

// A token that says whether an object handed out by a `WeakReferenceSource`
// is still usable. It may be copied and released on any thread; whether it
// is valid must only be asked on the thread that invalidates it.
class WeakReference {
 public:
  WeakReference();
  WeakReference(const WeakReference& other);
  WeakReference(WeakReference&& other) noexcept;
  WeakReference& operator=(const WeakReference& other);
  WeakReference& operator=(WeakReference&& other) noexcept;
  ~WeakReference();

  // False for an unbound reference.
  bool IsValid() const;

 private:
  friend class WeakReferenceSource;
  class Flag;

  explicit WeakReference(RefPtr<Flag> flag);

  RefPtr<Flag> flag_;
};

// Hands out weak references to its owner. Invalidation (or destruction)
// makes every reference handed out so far invalid for good; references
// handed out afterwards start on a fresh flag.
class WeakReferenceSource {
 public:
  WeakReferenceSource();
  WeakReferenceSource(const WeakReferenceSource&) = delete;
  WeakReferenceSource& operator=(const WeakReferenceSource&) = delete;
  ~WeakReferenceSource();

  WeakReference GetRef();
  void Invalidate();

 private:
  RefPtr<WeakReference::Flag> flag_;
};

}  // namespace base

#endif  // BASE_WEAK_REFERENCE_H_
