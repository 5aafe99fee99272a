#include "base/time/low_resolution_tick_clock.h"

namespace base {

int64_t LowResolutionTickClock::Now() {
  for (;;) {
    // The state is read before the counter, so a wrap recorded by another
    // thread is never paired with an older reading.
    uint32_t state = rollover_state_.load(std::memory_order_acquire);
    uint32_t now = read_milliseconds_();
    uint32_t top = now >> 24;
    uint32_t last_top = state & 0xFF;
    uint32_t rollovers = state >> kCountShift;
    if (top < last_top)
      rollovers = (rollovers + 1) & 0xFFFF;
    uint32_t updated = (rollovers << kCountShift) | top;
    if (updated == state ||
        rollover_state_.compare_exchange_weak(state, updated,
                                              std::memory_order_acq_rel)) {
      int64_t milliseconds =
          static_cast<int64_t>(now) + (static_cast<int64_t>(rollovers) << 32);
      return milliseconds * 1000;
    }
  }
}

}  // namespace base
