#include "base/threading/lock.h"

#include "base/trace_event/activity_scope.h"

namespace base {

void Lock::Acquire() {
  // The scope ends right after the lock is taken: it records waiting only.
  LockAcquireActivityScope activity(__builtin_return_address(0), this);
  AcquireSRWLockExclusive(&lock_);
}

void Lock::Release() {
  ReleaseSRWLockExclusive(&lock_);
}

bool Lock::Try() {
  return TryAcquireSRWLockExclusive(&lock_) != 0;
}

}  // namespace base
