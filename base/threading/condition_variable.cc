#include "base/threading/condition_variable.h"

#include "base/logging.h"

namespace base {

void ConditionVariable::Wait() {
  // Without a time limit the sleep ends only when woken.
  CHECK(::SleepConditionVariableSRW(&condition_, &lock_->lock_, INFINITE, 0));
}

void ConditionVariable::Signal() {
  ::WakeConditionVariable(&condition_);
}

void ConditionVariable::Broadcast() {
  ::WakeAllConditionVariable(&condition_);
}

}  // namespace base
