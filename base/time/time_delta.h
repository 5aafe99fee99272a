#ifndef BASE_TIME_TIME_DELTA_H_
#define BASE_TIME_TIME_DELTA_H_

#include <compare>
#include <cstdint>
#include <limits>

namespace base {

// A signed duration in microseconds. Arithmetic saturates: the maximum is
// INT64_MAX and the minimum is -INT64_MAX, so negating either stays in range.
class TimeDelta {
 public:
  constexpr TimeDelta() = default;

  static constexpr TimeDelta FromMicroseconds(int64_t us) {
    return TimeDelta(us < kMinValue ? kMinValue : us);
  }
  static constexpr TimeDelta FromMilliseconds(int64_t ms) {
    return FromScaled(ms, 1000);
  }
  static constexpr TimeDelta FromSeconds(int64_t s) {
    return FromScaled(s, 1000000);
  }
  static constexpr TimeDelta Max() { return TimeDelta(kMaxValue); }
  static constexpr TimeDelta Min() { return TimeDelta(kMinValue); }

  constexpr int64_t InMicroseconds() const { return delta_; }
  // Truncates toward zero; the maximum stays INT64_MAX.
  int64_t InMilliseconds() const;
  // Rounds toward positive infinity, so a wait never ends early.
  int64_t InMillisecondsRoundedUp() const;
  double InSecondsF() const;

  constexpr bool is_zero() const { return delta_ == 0; }
  constexpr bool is_max() const { return delta_ == kMaxValue; }
  constexpr bool is_min() const { return delta_ == kMinValue; }

  constexpr TimeDelta operator+(TimeDelta other) const {
    int64_t sum = 0;
    if (__builtin_add_overflow(delta_, other.delta_, &sum))
      return other.delta_ < 0 ? Min() : Max();
    return FromMicroseconds(sum);
  }
  constexpr TimeDelta operator-(TimeDelta other) const {
    int64_t difference = 0;
    if (__builtin_sub_overflow(delta_, other.delta_, &difference))
      return other.delta_ < 0 ? Max() : Min();
    return FromMicroseconds(difference);
  }
  constexpr TimeDelta operator-() const { return TimeDelta(-delta_); }
  constexpr TimeDelta operator*(int64_t factor) const {
    int64_t product = 0;
    if (__builtin_mul_overflow(delta_, factor, &product))
      return (delta_ < 0) != (factor < 0) ? Min() : Max();
    return FromMicroseconds(product);
  }
  constexpr TimeDelta& operator+=(TimeDelta other) {
    return *this = *this + other;
  }
  constexpr TimeDelta& operator-=(TimeDelta other) {
    return *this = *this - other;
  }

  friend constexpr auto operator<=>(const TimeDelta&,
                                    const TimeDelta&) = default;

 private:
  static constexpr int64_t kMaxValue = std::numeric_limits<int64_t>::max();
  static constexpr int64_t kMinValue = -kMaxValue;

  explicit constexpr TimeDelta(int64_t us) : delta_(us) {}

  // value * scale microseconds, clamped to the range.
  static constexpr TimeDelta FromScaled(int64_t value, int64_t scale) {
    if (value > kMaxValue / scale)
      return Max();
    if (value < kMinValue / scale)
      return Min();
    return TimeDelta(value * scale);
  }

  int64_t delta_ = 0;
};

constexpr TimeDelta operator*(int64_t factor, TimeDelta delta) {
  return delta * factor;
}

}  // namespace base

#endif  // BASE_TIME_TIME_DELTA_H_
