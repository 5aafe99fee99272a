#ifndef BASE_TIME_HIGH_RESOLUTION_TIMER_H_
#define BASE_TIME_HIGH_RESOLUTION_TIMER_H_

#include <cstdint>

namespace base {

// Raises the system timer resolution to a 4 ms period while at least one
// user has activated it. The count is process-wide, so the period is begun
// and ended exactly once per busy stretch whichever threads switch it.
class HighResolutionTimer {
 public:
  using PeriodFunction = void (*)(uint32_t period_ms);

  static constexpr uint32_t kPeriodMs = 4;

  // Adds (`activating`) or removes one user. A removal without a matching
  // activation is ignored rather than wrapping the count.
  static void Activate(bool activating);

  static uint32_t ActivationCountForTesting();
  // Replaces the calls that begin and end the period; null restores the
  // system's.
  static void SetPeriodFunctionsForTesting(PeriodFunction begin,
                                           PeriodFunction end);
};

}  // namespace base

#endif  // BASE_TIME_HIGH_RESOLUTION_TIMER_H_
