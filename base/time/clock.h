#ifndef BASE_TIME_CLOCK_H_
#define BASE_TIME_CLOCK_H_

#include "base/time/time.h"

namespace base {

// A source of wall-clock time, so that code can be given a fake one.
class Clock {
 public:
  virtual ~Clock();

  virtual Time Now() = 0;
};

}  // namespace base

#endif  // BASE_TIME_CLOCK_H_
