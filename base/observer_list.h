#ifndef BASE_OBSERVER_LIST_H_
#define BASE_OBSERVER_LIST_H_

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

#include "base/weak_reference.h"

namespace base {

enum class ObserverListPolicy {
  // A walk also reaches observers added while it runs.
  kNotifyAll,
  // A walk stops at the size the list had when it began.
  kNotifyExistingOnly,
};

// The observers of a notifying object, in the order they were added. An
// observer may be added or removed, and the list itself destroyed, while a
// notification walks it: removal only empties the slot, and the list is
// compacted when the outermost walk ends. Lives on one thread.
//   for (Observer& observer : observers_)
//     observer.OnStatusChanged(status);
template <class ObserverType>
class ObserverList {
 public:
  class Iter;

  explicit ObserverList(
      ObserverListPolicy policy = ObserverListPolicy::kNotifyAll)
      : policy_(policy) {}
  ObserverList(const ObserverList&) = delete;
  ObserverList& operator=(const ObserverList&) = delete;

  // A duplicate is ignored.
  void AddObserver(ObserverType* observer);
  // An observer that is not in the list is ignored.
  void RemoveObserver(ObserverType* observer);
  bool HasObserver(const ObserverType* observer) const;
  bool empty() const { return observers_.empty(); }

  // An empty list walks as the end iterator, which leaves the walk depth
  // alone.
  Iter begin() { return observers_.empty() ? Iter() : Iter(this); }
  Iter end() { return Iter(); }

 private:
  // Removes the slots emptied during walks, keeping the others' order.
  void Compact();
  size_t WalkLimit() const;

  WeakReferenceSource weak_source_;
  std::vector<ObserverType*> observers_;
  int32_t walk_depth_ = 0;
  ObserverListPolicy policy_;
};

// A walk over an `ObserverList`. It holds a weak reference to the list, so a
// list destroyed by an observer ends the walk instead of being read after it
// was freed.
template <class ObserverType>
class ObserverList<ObserverType>::Iter {
 public:
  // The end iterator.
  Iter() = default;
  explicit Iter(ObserverList* list);
  Iter(Iter&& other) noexcept;
  Iter(const Iter&) = delete;
  Iter& operator=(const Iter&) = delete;
  ~Iter();

  // Null when the list is gone or the walk has ended.
  ObserverType* GetCurrent() const;
  void Advance();
  bool IsAtEnd() const;

  ObserverType& operator*() const { return *GetCurrent(); }
  ObserverType* operator->() const { return GetCurrent(); }
  Iter& operator++() {
    Advance();
    return *this;
  }
  // Any two iterators at their end are equal: walks compare against end().
  bool operator==(const Iter& other) const;

 private:
  bool ListExists() const { return list_ref_.IsValid(); }
  size_t End() const;
  void SkipRemovedObservers();

  WeakReference list_ref_;
  ObserverList* list_ = nullptr;
  size_t index_ = 0;
  size_t limit_ = 0;
};

template <class ObserverType>
void ObserverList<ObserverType>::AddObserver(ObserverType* observer) {
  if (!HasObserver(observer))
    observers_.push_back(observer);
}

template <class ObserverType>
void ObserverList<ObserverType>::RemoveObserver(ObserverType* observer) {
  auto it = std::find(observers_.begin(), observers_.end(), observer);
  if (it == observers_.end())
    return;
  // A running walk indexes the vector: keep the positions until it ends.
  if (walk_depth_ == 0)
    observers_.erase(it);
  else
    *it = nullptr;
}

template <class ObserverType>
bool ObserverList<ObserverType>::HasObserver(
    const ObserverType* observer) const {
  return observer &&
         std::find(observers_.begin(), observers_.end(), observer) !=
             observers_.end();
}

template <class ObserverType>
void ObserverList<ObserverType>::Compact() {
  std::erase(observers_, nullptr);
}

template <class ObserverType>
size_t ObserverList<ObserverType>::WalkLimit() const {
  return policy_ == ObserverListPolicy::kNotifyExistingOnly
             ? observers_.size()
             : std::numeric_limits<size_t>::max();
}

template <class ObserverType>
ObserverList<ObserverType>::Iter::Iter(ObserverList* list)
    : list_ref_(list->weak_source_.GetRef()),
      list_(list),
      limit_(list->WalkLimit()) {
  SkipRemovedObservers();
  ++list_->walk_depth_;
}

template <class ObserverType>
ObserverList<ObserverType>::Iter::Iter(Iter&& other) noexcept
    : list_ref_(std::move(other.list_ref_)),
      list_(std::exchange(other.list_, nullptr)),
      index_(other.index_),
      limit_(other.limit_) {}

template <class ObserverType>
ObserverList<ObserverType>::Iter::~Iter() {
  if (ListExists() && --list_->walk_depth_ == 0)
    list_->Compact();
}

template <class ObserverType>
ObserverType* ObserverList<ObserverType>::Iter::GetCurrent() const {
  if (!ListExists() || index_ >= End())
    return nullptr;
  return list_->observers_[index_];
}

template <class ObserverType>
void ObserverList<ObserverType>::Iter::Advance() {
  if (!ListExists())
    return;
  ++index_;
  SkipRemovedObservers();
}

template <class ObserverType>
bool ObserverList<ObserverType>::Iter::IsAtEnd() const {
  return !ListExists() || index_ == End();
}

template <class ObserverType>
bool ObserverList<ObserverType>::Iter::operator==(const Iter& other) const {
  if (IsAtEnd() && other.IsAtEnd())
    return true;
  return list_ == other.list_ && index_ == other.index_;
}

template <class ObserverType>
size_t ObserverList<ObserverType>::Iter::End() const {
  return std::min(list_->observers_.size(), limit_);
}

template <class ObserverType>
void ObserverList<ObserverType>::Iter::SkipRemovedObservers() {
  while (ListExists() && index_ < End() && !list_->observers_[index_])
    ++index_;
}

}  // namespace base

#endif  // BASE_OBSERVER_LIST_H_
