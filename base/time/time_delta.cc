#include "base/time/time_delta.h"

namespace base {

int64_t TimeDelta::InMilliseconds() const {
  if (is_max())
    return kMaxValue;
  return delta_ / 1000;
}

int64_t TimeDelta::InMillisecondsRoundedUp() const {
  if (is_max())
    return kMaxValue;
  int64_t milliseconds = delta_ / 1000;
  // Division truncates toward zero, which is already upward for negatives.
  if (delta_ % 1000 > 0)
    ++milliseconds;
  return milliseconds;
}

double TimeDelta::InSecondsF() const {
  return static_cast<double>(delta_) / 1000000.0;
}

}  // namespace base
