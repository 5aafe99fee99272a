#include "base/time/tick_source.h"

#include <windows.h>

#include <atomic>

#include "base/cpu_info.h"
#include "base/time/low_resolution_tick_clock.h"
#include "base/time/multimedia_timer.h"
#include "base/time/tsc.h"

namespace base {

namespace {

constexpr int64_t kMicrosecondsPerSecond = 1000000;
// Counters below this multiply by a million without overflowing.
constexpr int64_t kLargestDirectCounter = 0x8637BD05AF7;

int64_t ChooseAndNow();

std::atomic<TickSource::NowFunction> g_source{&ChooseAndNow};
std::atomic<int64_t> g_counter_frequency{0};

constinit LowResolutionTickClock g_low_resolution_clock(
    &MultimediaTimer::GetTime);

int64_t LowResolutionNow() {
  return g_low_resolution_clock.Now();
}

int64_t PerformanceCounterNow() {
  LARGE_INTEGER counter;
  QueryPerformanceCounter(&counter);
  return TickSource::CounterToMicroseconds(
      counter.QuadPart, g_counter_frequency.load(std::memory_order_relaxed));
}

TickSource::NowFunction ChooseSource() {
  LARGE_INTEGER frequency;
  int64_t counter_frequency =
      QueryPerformanceFrequency(&frequency) ? frequency.QuadPart : 0;
  CpuInfo cpu;
  // Racing threads store the same frequency; it must be in place before the
  // source that divides by it is published.
  g_counter_frequency.store(counter_frequency, std::memory_order_relaxed);
  bool use_counter =
      counter_frequency >= 1 &&
      IsUsableInvariantTsc(cpu.vendor(), cpu.family(), cpu.ext_family(),
                           cpu.has_invariant_tsc());
  return use_counter ? &PerformanceCounterNow : &LowResolutionNow;
}

int64_t ChooseAndNow() {
  TickSource::NowFunction expected = &ChooseAndNow;
  g_source.compare_exchange_strong(expected, ChooseSource(),
                                   std::memory_order_acq_rel);
  return g_source.load(std::memory_order_acquire)();
}

}  // namespace

// static
int64_t TickSource::Now() {
  return g_source.load(std::memory_order_acquire)();
}

// static
int64_t TickSource::CounterToMicroseconds(int64_t counter, int64_t frequency) {
  if (counter < kLargestDirectCounter)
    return counter * kMicrosecondsPerSecond / frequency;
  int64_t whole_seconds = counter / frequency;
  int64_t rest = counter % frequency;
  return whole_seconds * kMicrosecondsPerSecond +
         rest * kMicrosecondsPerSecond / frequency;
}

// static
TickSource::NowFunction TickSource::SwapForTesting(NowFunction source) {
  return g_source.exchange(source, std::memory_order_acq_rel);
}

}  // namespace base
