#ifndef BASE_TIME_MULTIMEDIA_TIMER_H_
#define BASE_TIME_MULTIMEDIA_TIMER_H_

#include <cstdint>

namespace base {

// The multimedia timer functions, behind one seam so that the clock and the
// timer period can be tested with injected readings.
class MultimediaTimer {
 public:
  // Milliseconds since system start, wrapping every 2^32 ms.
  static uint32_t GetTime();
  static void BeginPeriod(uint32_t period_ms);
  static void EndPeriod(uint32_t period_ms);
};

}  // namespace base

#endif  // BASE_TIME_MULTIMEDIA_TIMER_H_
