#include "base/time/wall_clock.h"

#include <windows.h>

#include <atomic>

#include "base/time/tick_time.h"

namespace base {

namespace {

// The tick clock drifts from the system clock; rebase at least this often.
constexpr int64_t kRebaseIntervalMs = 60000;

int64_t SystemTimeNow() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return Time::FromFileTime(now).ToInternalValue();
}

std::atomic<WallClock::SystemTimeFunction> g_system_time{&SystemTimeNow};

// A reader must never combine the ticks of one base with the time of another
// (the result would be off by the interval between the two), so the pair is
// a sequence lock: a writer makes the count odd while it stores, a reader
// retries when the count was odd or changed under it. Readers take no lock,
// which keeps Time::Now cheap.
constinit std::atomic<uint32_t> g_sequence{0};
constinit std::atomic<int64_t> g_initial_ticks{0};
constinit std::atomic<int64_t> g_initial_time{0};

}  // namespace

// static
Time WallClock::Now() {
  for (;;) {
    uint32_t sequence = g_sequence.load(std::memory_order_acquire);
    if (sequence & 1) {
      Sleep(0);
      continue;
    }
    int64_t initial_ticks = g_initial_ticks.load(std::memory_order_relaxed);
    int64_t initial_time = g_initial_time.load(std::memory_order_relaxed);
    // Read inside the section, so that ticks taken before a rebase are never
    // measured from the newer base.
    TickTime now = TickTime::Now();
    std::atomic_thread_fence(std::memory_order_acquire);
    if (g_sequence.load(std::memory_order_relaxed) != sequence)
      continue;
    if (initial_time == 0) {
      Rebase();
      continue;
    }
    TimeDelta elapsed = now - TickTime::FromInternalValue(initial_ticks);
    if (elapsed.is_max() || elapsed.InMilliseconds() > kRebaseIntervalMs) {
      Rebase();
      continue;
    }
    return Time::FromInternalValue(initial_time) + elapsed;
  }
}

// static
Time WallClock::Rebase() {
  // Both clocks are read before the section opens, so readers wait only for
  // two stores.
  int64_t ticks = TickTime::Now().ToInternalValue();
  int64_t time = g_system_time.load(std::memory_order_acquire)();
  uint32_t sequence = g_sequence.load(std::memory_order_relaxed);
  for (;;) {
    if (sequence & 1) {
      Sleep(0);
      sequence = g_sequence.load(std::memory_order_relaxed);
      continue;
    }
    if (g_sequence.compare_exchange_weak(sequence, sequence + 1,
                                         std::memory_order_acquire,
                                         std::memory_order_relaxed)) {
      break;
    }
  }
  std::atomic_thread_fence(std::memory_order_release);
  g_initial_ticks.store(ticks, std::memory_order_relaxed);
  g_initial_time.store(time, std::memory_order_relaxed);
  g_sequence.store(sequence + 2, std::memory_order_release);
  return Time::FromInternalValue(time);
}

// static
WallClock::SystemTimeFunction WallClock::SwapSystemTimeForTesting(
    SystemTimeFunction source) {
  return g_system_time.exchange(source, std::memory_order_acq_rel);
}

}  // namespace base
