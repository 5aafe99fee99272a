#ifndef BASE_TIME_TICK_TIME_H_
#define BASE_TIME_TICK_TIME_H_

#include <compare>
#include <cstdint>

#include "base/time/time_delta.h"

namespace base {

// A reading of the monotonic tick clock in microseconds, for timeouts and
// task scheduling. The null value (0) means "none" where a time is optional.
class TickTime {
 public:
  constexpr TickTime() = default;

  // Reads the process-wide tick source (see TickSource).
  static TickTime Now();

  static constexpr TickTime FromInternalValue(int64_t us) {
    return TickTime(us);
  }
  constexpr int64_t ToInternalValue() const { return ticks_; }
  constexpr bool is_null() const { return ticks_ == 0; }

  constexpr TickTime operator+(TimeDelta delta) const {
    return TickTime((AsDelta() + delta).InMicroseconds());
  }
  constexpr TickTime operator-(TimeDelta delta) const {
    return TickTime((AsDelta() - delta).InMicroseconds());
  }
  constexpr TimeDelta operator-(TickTime other) const {
    return AsDelta() - other.AsDelta();
  }
  constexpr TickTime& operator+=(TimeDelta delta) {
    return *this = *this + delta;
  }
  constexpr TickTime& operator-=(TimeDelta delta) {
    return *this = *this - delta;
  }

  friend constexpr auto operator<=>(const TickTime&,
                                    const TickTime&) = default;

 private:
  explicit constexpr TickTime(int64_t us) : ticks_(us) {}
  constexpr TimeDelta AsDelta() const {
    return TimeDelta::FromMicroseconds(ticks_);
  }

  int64_t ticks_ = 0;
};

}  // namespace base

#endif  // BASE_TIME_TICK_TIME_H_
