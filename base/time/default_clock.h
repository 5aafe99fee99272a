#ifndef BASE_TIME_DEFAULT_CLOCK_H_
#define BASE_TIME_DEFAULT_CLOCK_H_

#include "base/time/clock.h"

namespace base {

// The real clock: answers Time::Now.
class DefaultClock : public Clock {
 public:
  ~DefaultClock() override;

  Time Now() override;
};

}  // namespace base

#endif  // BASE_TIME_DEFAULT_CLOCK_H_
