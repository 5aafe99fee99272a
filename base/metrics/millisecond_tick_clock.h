#ifndef BASE_METRICS_MILLISECOND_TICK_CLOCK_H_
#define BASE_METRICS_MILLISECOND_TICK_CLOCK_H_

#include <cstdint>

namespace base {

// The tick clock (`TickTime`) in milliseconds, for task tracking, which
// reads it three times for every task. The tick clock itself costs a system
// call (some 85 ns under Wine, more than a whole task post and run); this
// one extrapolates from the processor's time-stamp counter between readings
// of the real clock, at most a second apart, and so stays within about a
// millisecond of it. Without a usable invariant counter it reads the tick
// clock every time.
class MillisecondTickClock {
 public:
  static int64_t NowMs();
};

}  // namespace base

#endif  // BASE_METRICS_MILLISECOND_TICK_CLOCK_H_
