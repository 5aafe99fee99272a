// The clocks every task post and timer reads, against the system's own
// wall-clock call for scale.

#include <windows.h>

#include <cstdint>

#include "base/metrics/millisecond_tick_clock.h"
#include "base/time/tick_time.h"
#include "base/time/time.h"
#include "bench/bench_harness.h"

namespace {

constexpr int kBatch = 1000;

template <typename Read>
double CallsPerSecond(Read read) {
  return bench::MeasureRate(
      [&] {
        for (int i = 0; i < kBatch; ++i) {
          auto value = read();
          bench::DoNotOptimize(&value);
        }
      },
      kBatch);
}

}  // namespace

int main(int argc, char** argv) {
  bench::ReadArguments(argc, argv);
  bench::Report("TickTime::Now",
                CallsPerSecond([] { return base::TickTime::Now(); }),
                "calls/s");
  bench::Report("MillisecondTickClock::NowMs (task tracking)",
                CallsPerSecond([] { return base::MillisecondTickClock::NowMs(); }),
                "calls/s");
  bench::Report("Time::Now", CallsPerSecond([] { return base::Time::Now(); }),
                "calls/s");
  bench::Report("GetSystemTimeAsFileTime", CallsPerSecond([] {
                  FILETIME now;
                  GetSystemTimeAsFileTime(&now);
                  return now;
                }),
                "calls/s");
  return 0;
}
