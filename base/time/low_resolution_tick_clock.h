#ifndef BASE_TIME_LOW_RESOLUTION_TICK_CLOCK_H_
#define BASE_TIME_LOW_RESOLUTION_TICK_CLOCK_H_

#include <atomic>
#include <cstdint>

namespace base {

// A millisecond counter that wraps at 2^32 (about 49.7 days), extended to a
// clock that keeps counting across the wrap. Safe to read from any thread.
class LowResolutionTickClock {
 public:
  // Reads the wrapping millisecond counter.
  using Reader = uint32_t (*)();

  explicit constexpr LowResolutionTickClock(Reader read_milliseconds)
      : read_milliseconds_(read_milliseconds) {}
  LowResolutionTickClock(const LowResolutionTickClock&) = delete;
  LowResolutionTickClock& operator=(const LowResolutionTickClock&) = delete;

  // Microseconds since the counter's origin.
  int64_t Now();

 private:
  // A wrap shows as the counter's top byte falling. The last top byte seen
  // (bits 0-7) and the number of wraps (bits 16-31) share one word so that
  // one compare-exchange updates both and no thread loses a wrap.
  static constexpr uint32_t kCountShift = 16;

  const Reader read_milliseconds_;
  std::atomic<uint32_t> rollover_state_{0};
};

}  // namespace base

#endif  // BASE_TIME_LOW_RESOLUTION_TICK_CLOCK_H_
