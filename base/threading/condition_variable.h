#ifndef BASE_THREADING_CONDITION_VARIABLE_H_
#define BASE_THREADING_CONDITION_VARIABLE_H_

#include <windows.h>

#include "base/threading/lock.h"

namespace base {

// Lets threads that hold `lock` sleep until another thread changes what the
// lock guards. A waiter may wake without a signal, and another thread may
// change the state between the signal and the wake: wait in a loop on the
// condition itself.
class ConditionVariable {
 public:
  // `lock` outlives this object.
  explicit ConditionVariable(Lock* lock) : lock_(lock) {}
  ConditionVariable(const ConditionVariable&) = delete;
  ConditionVariable& operator=(const ConditionVariable&) = delete;

  // With the lock held: releases it while asleep and holds it again on
  // return.
  void Wait();
  // Wakes one waiter.
  void Signal();
  // Wakes every waiter.
  void Broadcast();

 private:
  Lock* const lock_;
  CONDITION_VARIABLE condition_ = CONDITION_VARIABLE_INIT;
};

}  // namespace base

#endif  // BASE_THREADING_CONDITION_VARIABLE_H_
