#include "base/time/high_resolution_timer.h"

#include "base/threading/lock.h"
#include "base/time/multimedia_timer.h"

namespace base {

namespace {

// A slim reader/writer lock initialises to a constant, so the lock is ready
// before any code runs and needs no lazy creation.
constinit Lock g_lock;
uint32_t g_activation_count = 0;
HighResolutionTimer::PeriodFunction g_begin_period = &MultimediaTimer::BeginPeriod;
HighResolutionTimer::PeriodFunction g_end_period = &MultimediaTimer::EndPeriod;

}  // namespace

// static
void HighResolutionTimer::Activate(bool activating) {
  // The period calls stay under the lock so that a begin and an end from
  // two threads cannot overtake each other.
  AutoLock hold(g_lock);
  if (activating) {
    if (g_activation_count++ == 0)
      g_begin_period(kPeriodMs);
    return;
  }
  if (g_activation_count == 0)
    return;
  if (--g_activation_count == 0)
    g_end_period(kPeriodMs);
}

// static
uint32_t HighResolutionTimer::ActivationCountForTesting() {
  AutoLock hold(g_lock);
  return g_activation_count;
}

// static
void HighResolutionTimer::SetPeriodFunctionsForTesting(PeriodFunction begin,
                                                       PeriodFunction end) {
  AutoLock hold(g_lock);
  g_begin_period = begin ? begin : &MultimediaTimer::BeginPeriod;
  g_end_period = end ? end : &MultimediaTimer::EndPeriod;
}

}  // namespace base
