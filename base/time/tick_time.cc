#include "base/time/tick_time.h"

#include "base/time/tick_source.h"

namespace base {

// static
TickTime TickTime::Now() {
  return TickTime(TickSource::Now());
}

}  // namespace base
