#ifndef BASE_TIME_TICK_SOURCE_H_
#define BASE_TIME_TICK_SOURCE_H_

#include <cstdint>

namespace base {

// The process-wide function behind TickTime::Now. It starts at a function
// that picks the real source on first use: the performance counter when the
// processor's time-stamp counter is invariant and usable, else the
// rollover-protected multimedia timer.
class TickSource {
 public:
  // Microseconds of the tick clock.
  using NowFunction = int64_t (*)();

  static int64_t Now();

  // Microseconds for a performance-counter reading at `frequency` ticks per
  // second, without overflowing for any non-negative counter.
  static int64_t CounterToMicroseconds(int64_t counter, int64_t frequency);

  // Installs `source` and returns the one it replaces. A source installed
  // before first use is not overwritten by the choice of the real one.
  static NowFunction SwapForTesting(NowFunction source);
};

}  // namespace base

#endif  // BASE_TIME_TICK_SOURCE_H_
