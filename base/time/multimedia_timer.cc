#include "base/time/multimedia_timer.h"

#include <windows.h>

#include <timeapi.h>

namespace base {

// static
uint32_t MultimediaTimer::GetTime() {
  return timeGetTime();
}

// static
void MultimediaTimer::BeginPeriod(uint32_t period_ms) {
  timeBeginPeriod(period_ms);
}

// static
void MultimediaTimer::EndPeriod(uint32_t period_ms) {
  timeEndPeriod(period_ms);
}

}  // namespace base
