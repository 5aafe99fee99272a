#include "base/time/tsc.h"

#include <intrin.h>
#include <windows.h>

#include <atomic>

#include "base/cpu_info.h"

namespace base {

namespace {

constexpr double kMinimumMeasuredSeconds = 0.05;

struct CounterPair {
  uint64_t tsc = 0;
  int64_t performance_counter = 0;
};

CounterPair ReadCounters() {
  LARGE_INTEGER counter;
  QueryPerformanceCounter(&counter);
  return CounterPair{__rdtsc(), counter.QuadPart};
}

// Raises the thread's priority for its lifetime so the two counters are read
// as close together as the scheduler allows.
class ScopedHighestPriority {
 public:
  ScopedHighestPriority()
      : thread_(GetCurrentThread()), previous_(GetThreadPriority(thread_)) {
    SetThreadPriority(thread_, THREAD_PRIORITY_HIGHEST);
  }
  ScopedHighestPriority(const ScopedHighestPriority&) = delete;
  ScopedHighestPriority& operator=(const ScopedHighestPriority&) = delete;
  ~ScopedHighestPriority() { SetThreadPriority(thread_, previous_); }

 private:
  const HANDLE thread_;  // A pseudo handle: nothing to close.
  const int previous_;
};

}  // namespace

bool IsUsableInvariantTsc(const std::string& vendor, int32_t family,
                          int32_t ext_family, bool has_invariant_tsc) {
  // The family-15 parts of this vendor are not trusted to keep the counters
  // of their cores in step, whatever they report.
  const bool excluded = vendor == "AuthenticAMD" && family == 15 && ext_family == 0;
  return has_invariant_tsc && !excluded;
}

bool HasUsableInvariantTsc() {
  static const bool usable = [] {
    CpuInfo cpu;
    return IsUsableInvariantTsc(cpu.vendor(), cpu.family(), cpu.ext_family(),
                                cpu.has_invariant_tsc());
  }();
  return usable;
}

double MeasureTscTicksPerSecond() {
  static std::atomic<double> measured{0.0};
  double known = measured.load(std::memory_order_acquire);
  if (known != 0.0)
    return known;

  CounterPair now;
  CounterPair first;
  {
    ScopedHighestPriority priority;
    static const CounterPair first_reading = ReadCounters();
    first = first_reading;
    now = ReadCounters();
  }

  LARGE_INTEGER frequency;
  if (!QueryPerformanceFrequency(&frequency) || frequency.QuadPart <= 0)
    return 0.0;
  double elapsed_seconds =
      static_cast<double>(now.performance_counter - first.performance_counter) /
      static_cast<double>(frequency.QuadPart);
  if (elapsed_seconds < kMinimumMeasuredSeconds)
    return 0.0;
  double ticks_per_second =
      static_cast<double>(now.tsc - first.tsc) / elapsed_seconds;
  measured.store(ticks_per_second, std::memory_order_release);
  return ticks_per_second;
}

}  // namespace base
