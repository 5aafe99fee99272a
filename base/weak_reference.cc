#include "base/weak_reference.h"

#include <atomic>

namespace base {

class WeakReference::Flag : public RefCounted<Flag> {
 public:
  // Read without a lock by bound-method invokes on the owner's thread;
  // acquire/release keep a cross-thread reader from seeing a stale "valid"
  // after it has seen the owner's other effects.
  bool IsValid() const { return valid_.load(std::memory_order_acquire); }
  void Invalidate() { valid_.store(false, std::memory_order_release); }

 private:
  std::atomic<bool> valid_{true};
};

WeakReference::WeakReference() = default;
WeakReference::WeakReference(const WeakReference& other) = default;
WeakReference::WeakReference(WeakReference&& other) noexcept = default;
WeakReference& WeakReference::operator=(const WeakReference& other) = default;
WeakReference& WeakReference::operator=(WeakReference&& other) noexcept =
    default;
WeakReference::~WeakReference() = default;

WeakReference::WeakReference(RefPtr<Flag> flag) : flag_(std::move(flag)) {}

bool WeakReference::IsValid() const {
  return flag_ && flag_->IsValid();
}

WeakReferenceSource::WeakReferenceSource() = default;

WeakReferenceSource::~WeakReferenceSource() {
  Invalidate();
}

WeakReference WeakReferenceSource::GetRef() {
  // With no reference outstanding nobody can observe the flag, so a fresh one
  // is as good; after an invalidation it is required, so that the old
  // references never become valid again.
  if (!flag_ || flag_->HasOneRef())
    flag_ = MakeRefCounted<WeakReference::Flag>();
  return WeakReference(flag_);
}

void WeakReferenceSource::Invalidate() {
  if (flag_) {
    flag_->Invalidate();
    flag_.reset();
  }
}

}  // namespace base
