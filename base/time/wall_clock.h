#ifndef BASE_TIME_WALL_CLOCK_H_
#define BASE_TIME_WALL_CLOCK_H_

#include <cstdint>

#include "base/time/time.h"

namespace base {

// The wall clock behind Time::Now: tick-clock readings laid over a base pair
// {tick reading, system time at that reading}. The base is renewed from the
// system clock after 60 s of ticks, since the two clocks drift apart.
class WallClock {
 public:
  // Microseconds since the FILETIME epoch.
  using SystemTimeFunction = int64_t (*)();

  static Time Now();
  // Takes a new base pair and returns its system time.
  static Time Rebase();

  // Installs `source` as the system clock and returns the one it replaces.
  static SystemTimeFunction SwapSystemTimeForTesting(SystemTimeFunction source);
};

}  // namespace base

#endif  // BASE_TIME_WALL_CLOCK_H_
