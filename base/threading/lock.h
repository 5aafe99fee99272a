#ifndef BASE_THREADING_LOCK_H_
#define BASE_THREADING_LOCK_H_

#include <windows.h>

namespace base {

// A non-recursive exclusive lock over a slim reader/writer lock. A thread must
// never acquire a lock it already holds. Every acquisition is recorded for
// diagnostics (it costs nothing while no activity tracker exists).
class Lock {
 public:
  Lock() = default;
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;

  void Acquire();
  void Release();
  // True when the lock was free and is now held by the caller.
  bool Try();

 private:
  // Sleeps on the lock itself.
  friend class ConditionVariable;

  SRWLOCK lock_ = SRWLOCK_INIT;
};

// Holds a Lock for the lifetime of the scope.
class AutoLock {
 public:
  explicit AutoLock(Lock& lock) : lock_(lock) { lock_.Acquire(); }
  AutoLock(const AutoLock&) = delete;
  AutoLock& operator=(const AutoLock&) = delete;
  ~AutoLock() { lock_.Release(); }

 private:
  Lock& lock_;
};

// Releases a held Lock for the lifetime of the scope: around a call out that
// must not run under it.
class AutoUnlock {
 public:
  explicit AutoUnlock(Lock& lock) : lock_(lock) { lock_.Release(); }
  AutoUnlock(const AutoUnlock&) = delete;
  AutoUnlock& operator=(const AutoUnlock&) = delete;
  ~AutoUnlock() { lock_.Acquire(); }

 private:
  Lock& lock_;
};

}  // namespace base

#endif  // BASE_THREADING_LOCK_H_
